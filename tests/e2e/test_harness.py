"""The harness's reading of Wine's console output and of the kit's report."""

import unittest

from k27e2e import again_if_hung, clean, only_hangs


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


class OnlyHangsTest(unittest.TestCase):
    def test_only_a_report_failed_by_time_outs_alone_is_played_again(self):
        hang = "FAILED          server-open-device-fails: no end within 60 s: the run was stopped (it wrote nothing; " \
               "the simulator journaled nothing)\n"
        other = "FAILED          reset-rejected: exit status 0, expected 1\n"
        rows = [
            ("passed          a\n" + hang + "NOT QUALIFIED: x\n", True),
            (hang + hang.replace("server-open-device-fails", "program-fails"), True),
            (hang + other, False),
            (other, False),
            ("passed          a\nQUALIFIED: x behaves as documented in every scenario\n", False),
            # A scenario's own name never counts as the reason.
            ("FAILED          no-end-within: exit status 0, expected 1\n", False),
            (hang.replace("no end within", "No end within"), False),
        ]
        for text, again in rows:
            self.assertEqual(only_hangs(text), again, text)

    def test_a_hung_qualification_is_run_once_more_and_no_more(self):
        hang = (1, "FAILED          a: no end within 60 s: the run was stopped (it wrote nothing; the simulator "
                   "journaled nothing)\n", "")
        other = (1, "FAILED          a: exit status 0, expected 1\n", "")
        passed = (0, "QUALIFIED: x behaves as documented in every scenario\n", "")
        rows = [
            ([hang, passed], passed, 2),
            ([hang, hang, passed], hang, 2),
            ([other, passed], other, 1),
            ([passed, hang], passed, 1),
        ]
        for results, returned, calls in rows:
            played = []

            def run():
                played.append(1)
                return results[len(played) - 1]

            self.assertEqual(again_if_hung(run), returned)
            self.assertEqual(len(played), calls)


if __name__ == "__main__":
    unittest.main()
