"""The embedded image's own guards, on the real k27prog.exe: copies of the
tool carrying another resource, or none, end with the guard's message and
status 1, and never start the device server."""

import os
import shutil
import tempfile
import unittest
import zlib

from k27e2e import BANNER, PRESS_SPACE, run_tool, tool_exe
from test_validation import k27image


def _stored(data):
    c = zlib.compressobj(level=0)
    return c.compress(data) + c.flush()


def stream_of_size(total):
    """A stream of exactly `total` bytes that inflates to fewer bytes."""
    # Stored blocks cost 11 bytes of framing for a short input.
    data = bytes((i * 7) & 0xFF for i in range(total - 11))
    stream = _stored(data)
    assert len(stream) == total, len(stream)
    return stream


def compressible_stream_of_size(total):
    """A stream of exactly `total` bytes that inflates to far more."""
    # Grows a pseudo-random run until the deflated stream is the size asked;
    # each added byte adds at most one byte of output.
    state = 12345
    data = bytearray(b"\0" * 4096)
    while True:
        stream = zlib.compress(bytes(data), 9)
        if len(stream) == total:
            return stream
        if len(stream) > total:
            data = data[:-1]
            del data[0]
            data.extend(b"\0")
            continue
        state = (state * 1103515245 + 12345) & 0x7FFFFFFF
        data.append(state >> 23)


# (name, resource bytes or None for no resource, message)
def cases(shipped):
    return [
        ("no resource", None, "CODE RESOURCE NOT FOUND"),
        ("1023 bytes", compressible_stream_of_size(1023), "CODE RESOURCE TOO SMALL"),
        ("1024 bytes that do not expand", stream_of_size(1024), "CODE DECOMPRESSION DIDN'T!!!"),
        ("cut off mid-stream", shipped[:len(shipped) // 2], "CODE DECOMPRESSION FAILED"),
        ("Adler-32 damaged", shipped[:-1] + bytes([shipped[-1] ^ 1]), "CODE DECOMPRESSION FAILED"),
        ("bytes after the stream", shipped + b"\0" * 16, "CODE DECOMPRESSION FAILED"),
    ]


class EmbeddedImageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="k27image-")
        path = os.path.join(cls.work, "shipped.zlib")
        if k27image("shipped", path)[0] != 0:
            raise RuntimeError("k27image shipped failed")
        with open(path, "rb") as f:
            cls.shipped = f.read()

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def make_tool(self, name, resource):
        stem = os.path.join(self.work, name.replace(" ", "_").replace("-", "_"))
        if resource is None:
            self.assertEqual(k27image("embed", "--remove", tool_exe(), stem + ".exe")[0], 0)
        else:
            with open(stem + ".zlib", "wb") as f:
                f.write(resource)
            self.assertEqual(k27image("embed", tool_exe(), stem + ".zlib", stem + ".exe")[0], 0)
        return stem + ".exe"

    def test_guards_end_the_run_before_the_server(self):
        self.assertEqual(len(self.shipped), 127633)
        self.assertEqual(len(zlib.decompress(self.shipped)), 142180)
        for name, resource, message in cases(self.shipped):
            with self.subTest(name):
                if resource is not None and name.startswith("10"):
                    self.assertEqual(len(resource), int(name.split()[0]))
                exe = self.make_tool(name, resource)
                r = run_tool(exe=exe, keys=[(PRESS_SPACE, " ")], timeout=60)
                shown = [line for line in r.transcript.split("\n") if line and not line.startswith("wine: ")]
                self.assertEqual(shown, [BANNER, message, PRESS_SPACE], r.transcript)
                self.assertEqual(r.status, 1)
                self.assertEqual(r.journal, [], "the device server was started")

    def test_a_resource_of_1024_bytes_passes_the_size_guard(self):
        # Compressible: it expands, so it gets past both size guards and is
        # refused only by the image checks.
        exe = self.make_tool("1024 compressible", compressible_stream_of_size(1024))
        r = run_tool(exe=exe, keys=[(PRESS_SPACE, " ")], timeout=60)
        shown = [line for line in r.transcript.split("\n") if line and not line.startswith("wine: ")]
        self.assertEqual(shown[0], BANNER)
        self.assertNotIn("CODE RESOURCE TOO SMALL", r.transcript)
        self.assertNotIn("CODE DECOMPRESSION", r.transcript)
        self.assertEqual(shown[-1], PRESS_SPACE)
        self.assertEqual(r.status, 1)
        self.assertEqual(r.journal, [])


if __name__ == "__main__":
    unittest.main()
