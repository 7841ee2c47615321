"""Nothing typed in the console cuts a run short once the device is
committed (from the programming group on), and before that Ctrl+C ends the
tool as it always did: the real k27prog.exe under Wine in a pseudo-terminal,
against the bench simulator.

How Wine delivers Ctrl+C here: Wine's console leaves the terminal's ISIG
setting on, so a 0x03 byte typed into the pseudo-terminal makes the kernel
send SIGINT to the terminal's foreground process group, and Wine turns
SIGINT into a console Ctrl+C event (CTRL_C_EVENT) for the program's control
handlers; SIGINT sent to the tool's own process goes the same way. With no
handler taking it the tool ends at once, and Wine reports status 0 (Windows
reports 0xC000013A). Wine 8 has no way to deliver Ctrl+Break (a terminal
has no such key, Ctrl+\\ sends SIGQUIT, which ends a Wine process whatever
its handlers, and GenerateConsoleCtrlEvent refuses CTRL_BREAK_EVENT): the
unit tests ask the installed handler about it. Quick Edit and a mouse
selection do not exist in Wine's console in a terminal: the unit tests check
the console input's mode, here in a terminal too, where it answers; and the
mode of the running tool's console is read during a slow erase. Nor does
Wine's console suspend its output on Ctrl+S or Pause, as a Windows console
with line input does: only the mode shows that line input is off."""

import os
import signal
import tempfile
import time
import unittest

from k27e2e import (BUILD, PRESS_SPACE, PROMPT, calls, device, read_journal, run_in_terminal, run_tool, run_wine,
                    wine_env)

SUCCESS = "PROGRAMMING SUCCESSFUL"
CTRL_C = "\x03"
# The input mode flags that are off while the device is committed.
LINE_INPUT, ECHO_INPUT, QUICK_EDIT = 0x2, 0x4, 0x40


def bench(delay_ms, erase_polls=(17, 0)):
    return {
        "server_version": {"major": 1, "minor": 7},
        "devices": [device()],
        "status": {"AcquireGroup": 0, "EraseStart": 17, "ErasePoll": list(erase_polls), "Program": 0, "Reset": 0},
        "delay_ms": delay_ms,
    }


def sigint(proc):
    os.kill(proc.pid, signal.SIGINT)


class CommittedSpanTest(unittest.TestCase):
    def test_ctrl_c_while_the_device_is_committed_does_not_stop_the_run(self):
        # Typed during a slow erase (four polls of 1.5 s), sent as SIGINT
        # during a slow program, typed again in the final wait: the run goes
        # on to its end, and only the space ends the wait.
        alive_in_the_wait = []

        def still_running_later(proc):
            time.sleep(1.5)
            alive_in_the_wait.append(proc.poll() is None)

        r = run_tool(bench=bench({"ErasePoll": 1500, "Program": 2000}, erase_polls=(17, 17, 17, 0)),
                     keys=[(PROMPT, "42\r"), ("erasing ... ", CTRL_C), ("Code flash program ... ", sigint),
                           (PRESS_SPACE, CTRL_C), (None, still_running_later), (None, " ")],
                     timeout=60)
        self.assertEqual(r.status, 0, r)
        self.assertRegex(r.transcript, r"\nCode flash erase \.\.\. erasing \.\.\. complete \(\d+\.\d{3}secs\)\n"
                                       r"Code flash program \.\.\. complete \(\d+\.\d{3}secs\)\n"
                                       r"Reset request \.\.\. accepted\n" + SUCCESS + "\n" + PRESS_SPACE + "\n$")
        self.assertEqual(calls(r)[-8:], ["AcquireGroup", "EraseStart", "ErasePoll", "ErasePoll", "ErasePoll",
                                         "ErasePoll", "Program", "Reset"])
        self.assertEqual(alive_in_the_wait, [True], "Ctrl+C ended the final wait")

    def test_ctrl_c_before_the_device_is_committed_ends_the_tool(self):
        # The same keys before the programming group is asked for: the
        # tool ends at once, with no message and no wait, the device
        # untouched, as before.
        # The server journals a call when it answers: a call the tool did
        # not live to see answered is not in the journal.
        rows = [
            ("at the prompt", bench({}), [(PROMPT, CTRL_C)], "DetectDevices"),
            ("while the code programming interface opens", bench({"OpenCodeProgramming": 3000}),
             [(PROMPT, "42\r"), ("Access as Production engineer : Code programming", CTRL_C)], "OpenDevice"),
        ]
        for name, b, keys, last_call in rows:
            with self.subTest(name):
                started = time.monotonic()
                r = run_tool(bench=b, keys=keys + [(PRESS_SPACE, " ")], timeout=30)
                # Wine's status for a process ended by Ctrl+C; Windows' is
                # 0xC000013A.
                self.assertEqual(r.status, 0, r)
                self.assertLess(time.monotonic() - started, 25, "the tool waited on")
                self.assertNotIn(PRESS_SPACE, r.transcript)
                self.assertEqual(calls(r)[-1], last_call)


    def test_console_input_mode_while_the_device_is_committed(self):
        # Read from outside, through the tool's own console: before the
        # device is committed as the console had it, during a slow erase
        # without Quick Edit, line input and echo input, all else kept.
        journal = os.path.join(tempfile.mkdtemp(prefix="k27e2e-"), "journal.jsonl")
        modes = []

        def read_mode(proc):
            client = [e["client_pid"] for e in read_journal(journal) if e["op"] == "Client"]
            status, out, err = run_wine(os.path.join(BUILD, "tests", "k27_input_mode_of.exe"), str(client[0]))
            modes.append(int(out, 16) if status == 0 else err)

        r = run_tool(bench=bench({"OpenCodeProgramming": 3000, "ErasePoll": 1500}, erase_polls=(17, 17, 0)),
                     journal=journal,
                     keys=[(PROMPT, "42\r"), ("Access as ", read_mode), ("erasing ... ", read_mode),
                           (PRESS_SPACE, " ")], timeout=60)
        self.assertEqual(r.status, 0, r)
        self.assertEqual(len(modes), 2, r)
        before, during = modes
        self.assertEqual(before & (LINE_INPUT | ECHO_INPUT | QUICK_EDIT), LINE_INPUT | ECHO_INPUT | QUICK_EDIT,
                         modes)
        self.assertEqual(during, before & ~(LINE_INPUT | ECHO_INPUT | QUICK_EDIT), modes)


class WindowsEdgeInATerminalTest(unittest.TestCase):
    def test_console_control_unit_tests_where_the_console_answers(self):
        # The Windows edge's unit tests, in a terminal: the console input's
        # mode answers here (in CI, with no console, that test skips).
        text, status = run_in_terminal(
            ["wine", os.path.join(BUILD, "k27_win_tests.exe"), "--gtest_filter=WindowsConsoleControl*"], [],
            env=wine_env(), timeout=120)
        self.assertEqual(status, 0, text)
        self.assertIn("[       OK ] WindowsConsoleControlTest.QuickEditAndLineInputOffDuringTheSpanAndBackAfterIt", text)
        self.assertIn("[       OK ] WindowsConsoleControlDeathTest.CtrlCEndsTheToolOnlyBeforeTheSpan", text)
        self.assertNotIn("SKIPPED", text)
        self.assertRegex(text, r"\[  PASSED  \] 3 tests\.")


if __name__ == "__main__":
    unittest.main()
