"""k27image info names the check at which k27prog refuses a damaged or
foreign image, with the tool's own message and exit status. (That the real
k27prog.exe refuses such images before it starts the device server is
played by the qualification catalogue, kit/catalogue/10-image.json.)"""

import os
import shutil
import tempfile
import unittest
import zlib

from k27e2e import BUILD, profile_place, run_wine, seal


def image_tool():
    return os.path.join(BUILD, "bin", "k27image.exe")


def k27image(*args):
    """Runs the image tool under Wine; returns (status, standard output)."""
    ran = run_wine(image_tool(), *args)
    return ran.status, ran.out


def damage_code_body(code):
    code[200] ^= 0x40


def code_x_version_2(code):
    code[50] = 2
    seal(code)


def code_y_version_3(code):
    code[51] = 3
    seal(code)


def from_revision_above_code_revision(code):
    start, size = profile_place(code)
    at = start + 58
    code[at:at + 2] = (int.from_bytes(code[78:80], "big") + 1).to_bytes(2, "big")
    seal(code, start, size)
    seal(code)


# (name, mutation, message, status)
CASES = [
    ("checksum damaged", damage_code_body, "CODE BLOCK CRC CHECK FAILED", 1),
    ("header X version 2", code_x_version_2, "UNKNOWN CODE HEADER X VERSION", 108),
    ("header Y version 3", code_y_version_3, "UNKNOWN CODE HEADER Y VERSION", 109),
    ("profile from revision too high", from_revision_above_code_revision, "BAD PROFILE FROM REVISION", 1),
]


class ValidationTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="k27validate-")
        shipped = os.path.join(cls.work, "shipped.zlib")
        status, _ = k27image("shipped", shipped)
        if status != 0:
            raise RuntimeError("k27image shipped failed")
        with open(shipped, "rb") as f:
            cls.shipped_code = zlib.decompress(f.read())

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def make_resource(self, name, mutate):
        """The shipped image, altered, packed as the tool's resource."""
        stem = os.path.join(self.work, name.replace(" ", "_"))
        code = bytearray(self.shipped_code)
        mutate(code)
        with open(stem + ".bin", "wb") as f:
            f.write(code)
        self.assertEqual(k27image("pack", stem + ".bin", stem + ".zlib")[0], 0)
        return stem + ".zlib"

    def test_info_names_the_check_the_tool_refuses(self):
        # The tool's own refusals are scenarios of the qualification
        # catalogue; here the image tool names the same check and outcome.
        for name, mutate, message, status in CASES:
            with self.subTest(name):
                resource = self.make_resource(name, mutate)
                info_status, info = k27image("info", resource)
                self.assertEqual(info_status, 1, info)
                verdicts = [line for line in info.split("\n") if line.startswith("verdict: ")]
                self.assertEqual(len(verdicts), 1, info)
                self.assertTrue(verdicts[0].endswith(": %s (exit status %d)" % (message, status)), info)

    def test_info_accepts_the_shipped_image(self):
        status, info = k27image("info", os.path.join(self.work, "shipped.zlib"))
        self.assertEqual(status, 0, info)
        self.assertIn('verdict: accepted; k27prog prints "Ready to program K27 firmware release 1.1.5(1)"\n', info)


if __name__ == "__main__":
    unittest.main()
