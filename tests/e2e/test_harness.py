"""The harness's reading of Wine's console output, and the build's wine-run
in a prefix lane."""

import os
import unittest

from k27e2e import BUILD, clean, run_command


class CleanTest(unittest.TestCase):
    def test_console_sequences(self):
        rows = [
            # Wine writes a blank as erase-to-end plus cursor-forward.
            (b"\x1b[?25lA\x1b[?25h\x1b[?25l\x1b[K\x1b[1C\x1b[?25hB\r\r\n", "A B\n"),
            (b"x\x1b[3Cy\r\n", "x   y\n"),
            (b"Code flash erase ... \r\n", "Code flash erase ... \n"),
            (b"\x1b]0;title\x07line\r\n", "line\n"),
            (b"no newline", "no newline"),
            # A row rewritten after a carriage return, as Wine's console does
            # between two writes of one long line.
            (b"abc\x1b[K\x1b[?25h\x1b[?25l\rabcdef\r\r\n", "abcdef\n"),
            (b"xyz\rA\r\n", "Ayz\n"),
            (b"abcd\r\x1b[2CZ\x1b[K\r\n", "abZ\n"),
            ("\u00e9\u65e5\r\n".encode(), "\u00e9\u65e5\n"),
        ]
        for raw, text in rows:
            self.assertEqual(clean(raw), text, raw)


class WineRunTest(unittest.TestCase):
    def test_a_programs_own_status_is_never_a_busy_lane(self):
        # 75 is also what flock says of a lock held elsewhere: the program
        # runs once, in one lane, and its status comes back as it is.
        ran = run_command([os.path.join(BUILD, "wine-run"), "cmd", "/c", "echo ran& exit 75"],
                          env=dict(os.environ, K27_LANE="1"), timeout=60)
        self.assertEqual((ran.status, ran.out.split()), (75, ["ran"]), ran)


if __name__ == "__main__":
    unittest.main()
