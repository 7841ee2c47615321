"""The firmware image the real k27prog.exe carries: the shipped resource is
made again byte for byte by k27image, embedding keeps a program's headers
right and the copy runs on the image it was given, and k27image info names
the check at which the tool refuses a damaged or foreign image, with the
tool's own message and exit status. Each of the image's own guards, on
copies of the tool carrying damaged images, is a scenario of the
qualification catalogue (kit/catalogue/10-image.json)."""

import os
import pathlib
import shutil
import subprocess
import tempfile
import unittest
import zlib

from k27e2e import BANNER, BUILD, PRESS_SPACE, REPO, profile_place, run_wine, seal, tool_exe
from k27model import CODE_REVISION_AT, FROM_REVISION_AT, X_VERSION_AT, Y_VERSION_AT, get16, put16

SHIPPED = os.path.join(REPO, "resources", "k27image.zlib")


def k27image(*args):
    """Runs the image tool under Wine; returns (status, standard output,
    standard error)."""
    return run_wine(os.path.join(BUILD, "bin", "k27image.exe"), *args)


def pattern(n, seed=7):
    x, out = seed, bytearray()
    for _ in range(n):
        x = (x * 1103515245 + 12345) & 0xFFFFFFFF
        out.append(x >> 24)
    return bytes(out)


def damage_body(code):
    code[200] ^= 0x40


def x_version_2(code):
    code[X_VERSION_AT] = 2


def y_version_3(code):
    code[Y_VERSION_AT] = 3


def from_revision_above_code_revision(code):
    start, size = profile_place(code)
    put16(code, start + FROM_REVISION_AT, get16(code, CODE_REVISION_AT) + 1)
    seal(code, start, size)


# Images the tool refuses: (name, change to the shipped code block, the
# check that refuses it (of the 24, in their order), message, status); the
# code block is sealed again after each change but the first.
REFUSED = [
    ("checksum damaged", damage_body, 2, "CODE BLOCK CRC CHECK FAILED", 1),
    ("header X version 2", x_version_2, 8, "UNKNOWN CODE HEADER X VERSION", 108),
    ("header Y version 3", y_version_3, 9, "UNKNOWN CODE HEADER Y VERSION", 109),
    ("profile from revision too high", from_revision_above_code_revision, 24, "BAD PROFILE FROM REVISION", 1),
]


def shown_lines(transcript):
    # Wine may speak for itself on standard error; that is not the tool's.
    return [line for line in transcript.split("\n") if line and not line.startswith("wine: ")]


class ImageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="k27image-")
        cls.shipped = pathlib.Path(SHIPPED).read_bytes()

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def path(self, name):
        return os.path.join(self.work, name)

    def write(self, name, data):
        pathlib.Path(self.path(name)).write_bytes(data)
        return self.path(name)

    def read(self, name):
        return pathlib.Path(self.path(name)).read_bytes()

    def tool_with(self, name, resource):
        """A copy of the tool carrying `resource` as its image, or none."""
        exe = self.path(name + ".exe")
        if resource is None:
            status, _, err = k27image("embed", "--remove", tool_exe(), exe)
        else:
            status, _, err = k27image("embed", tool_exe(), self.write(name + ".zlib", resource), exe)
        self.assertEqual(status, 0, err)
        return exe

    def test_shipped_and_pack_make_the_shipped_resource_byte_for_byte(self):
        # The stream's own form is the unit tests' (k27image's shipped_image_test, pack_test).
        status, _, err = k27image("shipped", self.path("shipped.zlib"))
        self.assertEqual(status, 0, err)
        self.assertTrue(self.read("shipped.zlib") == self.shipped, "resources/k27image.zlib is not what k27image "
                        "shipped makes")
        # The shipped code block, packed as a release would be, is the shipped resource.
        status, _, err = k27image("pack", self.write("code.bin", zlib.decompress(self.shipped)),
                                  self.path("packed.zlib"))
        self.assertEqual(status, 0, err)
        self.assertTrue(self.read("packed.zlib") == self.shipped)

        # Blocks whose resource the tool would refuse are not packed.
        for name, block, why in [("tiny", bytes(4000), "the compressed image is shorter than 1024 bytes"),
                                 ("incompressible", pattern(4000),
                                  "the compressed image is not shorter than the code block")]:
            with self.subTest(name):
                out = self.path(name + ".zlib")
                status, _, err = k27image("pack", self.write(name + ".bin", block), out)
                self.assertEqual((status, shown_lines(err)), (1, ["k27image: " + why]))
                self.assertFalse(os.path.exists(out))

    def test_embed_keeps_the_headers_of_an_unstripped_tool_right(self):
        # The build's tool keeps its debug sections, named through the symbol
        # table's strings; a copy with an image of another size moves them
        # (embed takes any bytes as the image). Each copy still runs, and
        # ends as its image makes it end.
        def objdump(flag, exe):
            done = subprocess.run(["x86_64-w64-mingw32-objdump", flag, exe], capture_output=True, text=True)
            self.assertEqual(done.returncode, 0, done.stderr)
            return done.stdout
        self.assertIn(".debug_info", objdump("-h", tool_exe()))
        for name, resource, message in [("smaller", pattern(1024), "CODE DECOMPRESSION FAILED"),
                                        ("larger", self.shipped + pattern(70000), "CODE DECOMPRESSION FAILED"),
                                        ("removed", None, "CODE RESOURCE NOT FOUND")]:
            with self.subTest(name):
                exe = self.tool_with("headers_" + name, resource)
                objdump("-p", exe)
                self.assertIn(".debug_info", objdump("-h", exe))
                # No console: the tool ends right after its message.
                ran = run_wine(exe)
                self.assertEqual((ran.status, shown_lines(ran.out)), (1, [BANNER, message, PRESS_SPACE]), ran)

    def test_info_names_the_check_the_tool_refuses(self):
        # The tool's own refusals are scenarios of the qualification
        # catalogue; here the image tool names the same check and outcome.
        status, info, _ = k27image("info", SHIPPED)
        self.assertEqual(status, 0, info)
        self.assertIn('verdict: accepted; k27prog prints "Ready to program K27 firmware release 1.1.5(1)"\n', info)
        for name, change, check, message, expected_status in REFUSED:
            with self.subTest(name):
                code = bytearray(zlib.decompress(self.shipped))
                change(code)
                if change is not damage_body:
                    seal(code)
                status, info, _ = k27image("info", self.write(name.replace(" ", "_") + ".zlib", zlib.compress(code, 9)))
                self.assertEqual(status, 1, info)
                verdicts = [line for line in info.split("\n") if line.startswith("verdict: ")]
                self.assertEqual(verdicts, ["verdict: refused at check %d of 24: %s (exit status %d)"
                                            % (check, message, expected_status)], info)


if __name__ == "__main__":
    unittest.main()
