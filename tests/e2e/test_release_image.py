"""Another release's kit is one command: scripts/release --image CODEBLOCK
packs the code block, builds it into the tool and names the zip, the
manifest, the texts and the version resource after it; a code block the
tool would refuse makes no kit. The kits are made in the clone the release
check built the shipped kit in (a folder 200 characters deep), which builds
again only what the image changes: the tool's resource and its link; the
kit's tool is then qualified, as scripts/release always does."""

import hashlib
import os
import re
import shutil
import tempfile
import unittest
import zlib

from k27e2e import BUILD, make_kit, release_1_1_6_2, release_tree, run_wine, unpack_release


class ReleaseImageTest(unittest.TestCase):
    def setUp(self):
        self.tree = release_tree()
        self.work = tempfile.mkdtemp(prefix="k27release-image-")
        self.out = os.path.join(self.work, "dist")

    def tearDown(self):
        shutil.rmtree(self.work, ignore_errors=True)

    def release(self, name, code):
        path = os.path.join(self.work, name)
        with open(path, "wb") as f:
            f.write(code)
        done = make_kit(self.tree, "--image", path, "--out", self.out)
        return done.status, done.out + done.err

    def test_another_release_is_one_command(self):
        code = release_1_1_6_2()
        status, output = self.release("release-1.1.6.bin", code)
        self.assertEqual(status, 0, output)
        self.assertEqual(os.listdir(self.out), ["k27prog-1.1.6-2-win64.zip"])
        # Its tool was qualified against the catalogue before the zip was
        # written: the scenarios work from another release's image too.
        self.assertRegex(output, r"release: qualified: (\d+) scenarios: \1 passed, 0 failed, 0 not applicable")
        kit = unpack_release(os.path.join(self.out, "k27prog-1.1.6-2-win64.zip"), os.path.join(self.work, "kit"))

        status, info, err = run_wine(os.path.join(kit, "k27image.exe"), "info", "k27prog.exe", cwd=kit)
        self.assertEqual(status, 0, info + err)
        self.assertTrue(info.endswith('verdict: accepted; k27prog prints '
                                      '"Ready to program K27 firmware release 1.1.6(2)"\n'), info)
        # The resource inside the tool, where k27image found it.
        found = re.search(r"^image resource: IMAGE 1001, language 0x0000, (\d+) bytes at offset (\d+)$", info, re.M)
        size, at = int(found.group(1)), int(found.group(2))
        with open(os.path.join(kit, "k27prog.exe"), "rb") as f:
            resource = f.read()[at:at + size]
        self.assertEqual(zlib.decompress(resource), code)

        with open(os.path.join(kit, "MANIFEST.txt"), "rb") as f:
            manifest = f.read().decode("utf-8")
        self.assertIn("Firmware release:  1.1.6(2)\r\n", manifest)
        self.assertIn("Image resource:    %d bytes, SHA-256 %s\r\n" % (size, hashlib.sha256(resource).hexdigest()),
                      manifest)
        self.assertIn("Code block:        %d bytes, SHA-256 %s\r\n" % (len(code), hashlib.sha256(code).hexdigest()),
                      manifest)
        with open(os.path.join(kit, "README.txt"), "rb") as f:
            self.assertIn(b"Carries K27 firmware release 1.1.6(2)\r\n", f.read())

        status, fields, err = run_wine(os.path.join(BUILD, "tests", "k27_version_query.exe"),
                                       os.path.join(kit, "k27prog.exe"))
        self.assertEqual(status, 0, fields + err)
        self.assertIn("FirmwareRelease=1.1.6(2)\n", fields)
        self.assertIn("FileDescription=K27 firmware programmer, release 1.1.6(2)\n", fields)

    def test_a_code_block_the_tool_would_refuse_makes_no_kit(self):
        damaged = bytearray(release_1_1_6_2())
        damaged[300] ^= 0x01
        cases = [
            ("damaged.bin", bytes(damaged),
             "verdict: refused at check 2 of 24: CODE BLOCK CRC CHECK FAILED (exit status 1)\n"),
            ("tiny.bin", bytes(3000), "k27image: the compressed image is shorter than 1024 bytes\n"),
        ]
        for name, code, reason in cases:
            with self.subTest(name):
                status, output = self.release(name, code)
                self.assertEqual(status, 1, output)
                self.assertIn(reason, output.replace("\r\n", "\n"))
                self.assertFalse(os.path.exists(self.out) and os.listdir(self.out), "a kit was written")


if __name__ == "__main__":
    unittest.main()
