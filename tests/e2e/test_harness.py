"""The harness's reading of Wine's console output."""

import unittest

from k27e2e import clean


class CleanTest(unittest.TestCase):
    def test_console_sequences(self):
        rows = [
            # Wine writes a blank as erase-to-end plus cursor-forward.
            (b"\x1b[?25lA\x1b[?25h\x1b[?25l\x1b[K\x1b[1C\x1b[?25hB\r\r\n", "A B\n"),
            (b"x\x1b[3Cy\r\n", "x   y\n"),
            (b"Code flash erase ... \r\n", "Code flash erase ... \n"),
            (b"\x1b]0;title\x07line\r\n", "line\n"),
            (b"no newline", "no newline"),
        ]
        for raw, text in rows:
            self.assertEqual(clean(raw), text, raw)


if __name__ == "__main__":
    unittest.main()
