"""The operator's side of a whole run: the real k27prog.exe under Wine,
against the real bench simulator through COM, in a pseudo-terminal, typed at
as an operator does: which keys end the final wait, and standard output
redirected to a file or a pipe. Every way the programming sequence ends, with
its transcript, calls and the code block sent, is a scenario of the
qualification catalogue (kit/catalogue), which test_qualify plays."""

import os
import re
import tempfile
import unittest

from k27e2e import PRESS_SPACE, PROMPT, device, run_tool


def bench(delay_ms=None):
    return {
        "server_version": {"major": 1, "minor": 7},
        "devices": [device()],
        "status": {"AcquireGroup": 0, "EraseStart": 17, "ErasePoll": [17, 0], "Program": 0, "Reset": 0},
        "delay_ms": delay_ms or {},
    }


TYPE_42 = (PROMPT, "42\r")


class SuccessfulRunTest(unittest.TestCase):
    def test_only_the_space_key_ends_it(self):
        # Up arrow and Delete reach the key read as 0xE0 and a scan code
        # ('H', 'S'), as on Windows. (Wine's console gives Alt+D as a plain
        # 'd', not as 0 and the scan code 32: that case is the unit tests'.)
        r = run_tool(bench=bench(), keys=[TYPE_42, (PRESS_SPACE, "\r"), (None, "\x1b"), (None, "q"), (None, "\r"),
                                          (None, "\x1b[A"), (None, "\x1b[3~")],
                     timeout=25)
        self.assertIn("PROGRAMMING SUCCESSFUL\n" + PRESS_SPACE, r.transcript)
        self.assertIsNone(r.status, "ended without the space key")

    def test_a_typed_0xe0_character_is_an_ordinary_key(self):
        # 'α' is 0xE0 in code page 437, the console's here, as the prefix of
        # an arrow key is: alone, it is a key like any other, and the space
        # right after it ends the wait. (Wine's run-time gives it as -32;
        # the tool takes it as the byte 0xE0, as Windows' run-time gives it.)
        for name, typed in (("alone", ["\u03b1"]), ("before an arrow", ["\u03b1", "\x1b[A"])):
            with self.subTest(name):
                keys = [TYPE_42, (PRESS_SPACE, typed[0])] + [(None, k) for k in typed[1:]] + [(None, " ")]
                r = run_tool(bench=bench(), keys=keys, timeout=25)
                self.assertEqual(r.status, 0, r)
                self.assertTrue(r.transcript.endswith("PROGRAMMING SUCCESSFUL\n" + PRESS_SPACE + "\n"), r)

    def test_space_typed_while_busy_ends_the_wait_at_once(self):
        r = run_tool(bench=bench(delay_ms={"Program": 1500}),
                     keys=[TYPE_42, ("Code flash program ... ", " ")], timeout=40)
        self.assertEqual(r.status, 0, r)
        self.assertTrue(r.transcript.endswith("PROGRAMMING SUCCESSFUL\n" + PRESS_SPACE + "\n"), r)

    def test_standard_output_to_a_file_or_a_pipe(self):
        # Through a pipe, as "k27prog | Tee-Object" has it, the space is typed
        # only once the outcome and the prompt have come through the pipe, so
        # the run ends only if they did while the tool waited. The operator's
        # echo goes to the terminal, not to the output.
        out = os.path.join(tempfile.mkdtemp(prefix="k27e2e-out-"), "out.txt")
        rows = [("file", {"stdout_path": out}, "Reset request ... "),
                ("pipe", {"stdout_pipe": True}, "PROGRAMMING SUCCESSFUL\n" + PRESS_SPACE + "\n")]
        for name, where, typed_at in rows:
            with self.subTest(name):
                r = run_tool(bench=bench(), keys=[TYPE_42, (typed_at, " ")], timeout=40, **where)
                self.assertEqual(r.status, 0, r)
                self.assertRegex(r.stdout_text, "^[^\n]*k27prog[^\n]*\n"
                                 + re.escape("Ready to program K27 firmware release 1.1.5(1)\n"
                                             "Found : K27#0042 (Bench) BootV1.3 CodeV2.1.7\n"
                                             + PROMPT + "Access as Production engineer : Code programming\n")
                                 + r"Code flash erase \.\.\. erasing \.\.\. complete \(\d+\.\d{3}secs\)\n"
                                 r"Code flash program \.\.\. complete \(\d+\.\d{3}secs\)\n"
                                 r"Reset request \.\.\. accepted\nPROGRAMMING SUCCESSFUL\n"
                                 + PRESS_SPACE + "\n$")
                self.assertNotIn("PROGRAMMING", r.transcript)


if __name__ == "__main__":
    unittest.main()
