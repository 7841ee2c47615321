"""The firmware image the real k27prog.exe carries: the shipped resource is
made again byte for byte by k27image, embedding keeps a program's headers
right, and a replaced image is the one the tool loads. Each of the image's
own guards, on copies of the tool carrying damaged images, is a scenario of
the qualification catalogue (kit/catalogue/10-image.json)."""

import hashlib
import json
import os
import shutil
import subprocess
import tempfile
import unittest
import zlib

from k27e2e import (BANNER, BUILD, PRESS_SPACE, REPO, profile_place, release_1_1_6_2, run_tool, run_wine,
                    stored_then_runs, tool_exe)

SHIPPED = os.path.join(REPO, "resources", "k27image.zlib")


def image_tool():
    return os.path.join(BUILD, "bin", "k27image.exe")


def k27image(*args):
    """Runs the image tool under Wine; returns (status, standard error)."""
    ran = run_wine(image_tool(), *args)
    return ran.status, ran.err


def pattern(n, seed=7):
    x, out = seed, bytearray()
    for _ in range(n):
        x = (x * 1103515245 + 12345) & 0xFFFFFFFF
        out.append(x >> 24)
    return bytes(out)


def shown_lines(transcript):
    # Wine may speak for itself on standard error; that is not the tool's.
    return [line for line in transcript.split("\n") if line and not line.startswith("wine: ")]


class ImageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="k27image-")
        with open(SHIPPED, "rb") as f:
            cls.shipped = f.read()

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def path(self, name):
        return os.path.join(self.work, name)

    def write(self, name, data):
        with open(self.path(name), "wb") as f:
            f.write(data)
        return self.path(name)

    def read(self, name):
        with open(self.path(name), "rb") as f:
            return f.read()

    def tool_with(self, name, resource):
        """A copy of the tool carrying `resource` as its image, or none."""
        exe = self.path(name + ".exe")
        if resource is None:
            status, err = k27image("embed", "--remove", tool_exe(), exe)
        else:
            status, err = k27image("embed", tool_exe(), self.write(name + ".zlib", resource), exe)
        self.assertEqual(status, 0, err)
        return exe

    def test_shipped_resource_is_made_again_byte_for_byte(self):
        status, err = k27image("shipped", self.path("shipped.zlib"))
        self.assertEqual(status, 0, err)
        made = self.read("shipped.zlib")
        self.assertEqual(len(made), 127633)
        self.assertEqual(made[:2], b"\x78\x9c")
        self.assertTrue(made == self.shipped, "resources/k27image.zlib is not what k27image shipped makes")
        # One stream, nothing after it, inflating to the code block.
        inflater = zlib.decompressobj()
        code = inflater.decompress(made) + inflater.flush()
        self.assertTrue(inflater.eof)
        self.assertEqual(inflater.unused_data, b"")
        self.assertEqual(len(code), 142180)

    def test_pack_makes_the_resource_of_any_code_block(self):
        # The shipped code block, packed as a release would be, is the shipped resource.
        code = zlib.decompress(self.shipped)
        status, err = k27image("pack", self.write("code.bin", code), self.path("packed.zlib"))
        self.assertEqual(status, 0, err)
        self.assertTrue(self.read("packed.zlib") == self.shipped)

        other = (pattern(3000) + bytes(5000)) * 2
        status, err = k27image("pack", self.write("other.bin", other), self.path("other.zlib"))
        self.assertEqual(status, 0, err)
        self.assertEqual(zlib.decompress(self.read("other.zlib")), other)

        # Blocks whose resource the tool would refuse are not packed.
        for name, block in [("tiny", bytes(4000)), ("incompressible", pattern(4000))]:
            with self.subTest(name):
                out = self.path(name + ".zlib")
                status, err = k27image("pack", self.write(name + ".bin", block), out)
                self.assertEqual(status, 1, err)
                self.assertIn("k27image: ", err)
                self.assertFalse(os.path.exists(out))

    def test_embed_keeps_the_headers_of_an_unstripped_tool_right(self):
        # The build's tool keeps its debug sections, named through the symbol
        # table's strings; a copy with an image of another size moves them.
        def objdump(flag, exe):
            done = subprocess.run(["x86_64-w64-mingw32-objdump", flag, exe], capture_output=True, text=True)
            self.assertEqual(done.returncode, 0, done.stderr)
            return done.stdout
        self.assertIn(".debug_info", objdump("-h", tool_exe()))
        for name, resource in [("smaller", stored_then_runs(pattern(1008), [8, 9])[0]),
                               ("larger", self.shipped + pattern(70000)), ("removed", None)]:
            with self.subTest(name):
                exe = self.tool_with("headers_" + name, resource)
                objdump("-p", exe)
                self.assertIn(".debug_info", objdump("-h", exe))

    def test_replaced_image_is_the_one_loaded(self):
        # Release 1.1.6, profile 2: both headers changed and both checksums
        # made anew, so the release line tells which image the copy runs.
        code = release_1_1_6_2()
        start, size = profile_place(code)
        profile = code[start:start + size]
        exe = self.tool_with("release_1_1_6", zlib.compress(bytes(code), 6))
        # A bench with no devices: the profile is uploaded, then the run ends.
        bench = {"server_version": {"major": 1, "minor": 7}, "devices": []}
        r = run_tool(exe=exe, bench=bench, keys=[(PRESS_SPACE, " ")], timeout=60)
        self.assertEqual(shown_lines(r.transcript),
                         [BANNER, "Ready to program K27 firmware release 1.1.6(2)", "NO DEVICES FOUND", PRESS_SPACE],
                         r)
        self.assertEqual(r.status, 1)
        digest = hashlib.sha256(profile).hexdigest()
        self.assertTrue(any(digest in json.dumps(line) for line in r.journal),
                        "the server was not handed the new image's profile block")


if __name__ == "__main__":
    unittest.main()
