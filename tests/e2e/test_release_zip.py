"""The release kit's zip maker and comparison (release/k27release.py),
without a build: the same files give the same bytes whatever the time zone
and the moment, and two kits that differ are told apart file by file."""

import contextlib
import io
import os
import shutil
import sys
import tempfile
import time
import unittest
import zipfile
from unittest import mock

from k27e2e import REPO

sys.path.insert(0, os.path.join(REPO, "release"))
import k27release  # noqa: E402

FILES = [("k27prog.exe", b"MZ" + bytes(300)), ("README.txt", b"line\r\n" * 50), ("bench-kit/a.json", b"{}\r\n")]
EPOCH = 1765229407  # an odd second: the zip holds times to two seconds


class ReleaseZipTest(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="k27release-zip-")
        self.addCleanup(shutil.rmtree, self.work, True)

    def zip(self, name, files, tz="UTC"):
        path = os.path.join(self.work, name)
        with mock.patch.dict(os.environ, TZ=tz):
            time.tzset()
            k27release.write_zip(path, files, EPOCH)
        time.tzset()
        with open(path, "rb") as f:
            return path, f.read()

    def compare(self, a, b):
        out = io.StringIO()
        with contextlib.redirect_stdout(out):
            status = k27release.main(["compare", a, b])
        return status, out.getvalue()

    def test_same_files_same_bytes_in_any_time_zone_and_order(self):
        first, one = self.zip("one.zip", FILES, "UTC")
        _, two = self.zip("two.zip", list(reversed(FILES)), "Pacific/Chatham")
        self.assertEqual(one, two)
        with zipfile.ZipFile(first) as z:
            self.assertEqual(z.namelist(), ["README.txt", "bench-kit/a.json", "k27prog.exe"])
            for info in z.infolist():
                self.assertEqual(info.date_time, (2025, 12, 8, 21, 30, 6))
                self.assertEqual((info.extra, info.create_system, info.external_attr), (b"", 0, 0x20))
        self.assertEqual(self.compare(first, os.path.join(self.work, "two.zip"))[0], 0)

    def test_kits_that_differ_are_told_apart_by_file(self):
        base, _ = self.zip("base.zip", FILES)
        changed = [(n, d[:100] + b"\x01" + d[101:]) if n == "k27prog.exe" else (n, d) for n, d in FILES]
        cases = [
            ("a byte", changed, "release: k27prog.exe differs (302 and 302 bytes, first at offset 100)"),
            ("a file more", FILES + [("extra.txt", b"x")], "release: extra.txt is in only one of the zips"),
        ]
        for name, files, line in cases:
            with self.subTest(name):
                other, _ = self.zip(name.replace(" ", "_") + ".zip", files)
                status, out = self.compare(base, other)
                self.assertEqual(status, 1, out)
                self.assertIn(line + "\n", out)


if __name__ == "__main__":
    unittest.main()
