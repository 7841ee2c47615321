"""The whole run, end to end: the real k27prog.exe under Wine, against the
real bench simulator through COM, in a pseudo-terminal, typed at as an
operator does. Every way the programming sequence ends is a scenario of the
qualification catalogue (kit/catalogue), which test_qualify plays."""

import os
import re
import struct
import tempfile
import time
import unittest
import zlib

from k27e2e import DEVICE_CALLS, PRESS_SPACE, PROMPT, REPO, block_crc, calls, device, entry, lines, run_tool

CODE_SIZE = 142180


def shipped_code_block():
    with open(os.path.join(REPO, "resources", "k27image.zlib"), "rb") as f:
        return zlib.decompress(f.read())


def bench(status=None, faults=None, delay_ms=None, **device_fields):
    b = {
        "server_version": {"major": 1, "minor": 7},
        "devices": [device(**device_fields)],
        "status": {"AcquireGroup": 0, "EraseStart": 17, "ErasePoll": [17, 0], "Program": 0, "Reset": 0},
    }
    if status:
        b["status"].update(status)
    if faults:
        b["faults"] = faults
    if delay_ms:
        b["delay_ms"] = delay_ms
    return b


TYPE_42 = (PROMPT, "42\r")


class SuccessfulRunTest(unittest.TestCase):
    def test_whole_run(self):
        before = int(time.time())
        r = run_tool(bench=bench(status={"ErasePoll": [17, 17, 0]},
                                 delay_ms={"EraseStart": 100, "ErasePoll": 300, "Program": 1500}),
                     keys=[TYPE_42, (PRESS_SPACE, "\r"), (None, "\x1b"), (None, "q"), (None, " ")])
        after = int(time.time())
        self.assertEqual(r.status, 0, r)
        shown = lines(r.transcript)
        self.assertEqual(len(shown), 10, r)
        self.assertIn("k27prog", shown[0])
        self.assertEqual(shown[1:5], [
            "Ready to program K27 firmware release 1.1.5(1)",
            "Found : K27#0042 (Bench) BootV1.3 CodeV2.1.7",
            PROMPT + "42",
            "Access as Production engineer : Code programming",
        ])
        erase = re.fullmatch(r"Code flash erase \.\.\. erasing \.\.\. complete \((\d+\.\d{3})secs\)", shown[5])
        program = re.fullmatch(r"Code flash program \.\.\. complete \((\d+\.\d{3})secs\)", shown[6])
        self.assertTrue(erase, shown[5])
        self.assertTrue(program, shown[6])
        # Real times: three polls of 0.3 s after the start; 1.5 s to program.
        self.assertGreaterEqual(float(erase.group(1)), 0.9)
        self.assertLess(float(erase.group(1)), 10)
        self.assertGreaterEqual(float(program.group(1)), 1.5)
        self.assertLess(float(program.group(1)), 10)
        self.assertEqual(shown[7:], ["Reset request ... accepted", "PROGRAMMING SUCCESSFUL", PRESS_SPACE])

        ops = calls(r)
        self.assertEqual([op for op in ops if op in DEVICE_CALLS],
                         ["AcquireGroup", "EraseStart", "ErasePoll", "ErasePoll", "ErasePoll", "Program", "Reset"])
        self.assertLess(ops.index("OpenCodeProgramming"), ops.index("AcquireGroup"))
        acquire = entry(r, "AcquireGroup")
        self.assertEqual(acquire["args"]["group_id"], 513)
        self.assertRegex(acquire["args"]["group_uuid"], r"^\{[0-9A-F-]{36}\}$")
        self.assertNotEqual(acquire["args"]["group_uuid"], "{00000000-0000-0000-0000-000000000000}")
        self.assertEqual(entry(r, "EraseStart")["args"], {"first": 0, "second": 0xFFFFFFFF})

        program_call = entry(r, "Program")
        args = program_call["args"]
        self.assertEqual(args["address"], 0x80000)
        self.assertEqual(args["length"], CODE_SIZE)
        self.assertEqual((args["code"]["vartype"], args["code"]["dims"], args["code"]["lower_bound"],
                          args["code"]["count"]), (17, 1, 0, CODE_SIZE))
        with open(os.path.join(r.journal_dir, args["code"]["file"]), "rb") as f:
            sent = f.read()
        shipped = shipped_code_block()
        self.assertEqual(len(sent), len(shipped))
        self.assertEqual(sent[:52], shipped[:52])
        self.assertEqual(sent[56:-4], shipped[56:-4])
        self.assertEqual(shipped[52:56], b"\0\0\0\0")
        stamp = struct.unpack(">I", sent[52:56])[0]
        self.assertGreaterEqual(stamp, before - 2)
        self.assertLessEqual(stamp, after + 2)
        self.assertEqual(struct.unpack(">I", sent[-4:])[0], block_crc(sent[:-4]))

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

    def test_standard_output_to_a_file(self):
        out = os.path.join(tempfile.mkdtemp(prefix="k27e2e-out-"), "out.txt")
        r = run_tool(bench=bench(), stdout_path=out,
                     keys=[TYPE_42, ("Reset request ... ", " ")], timeout=40)
        self.assertEqual(r.status, 0, r.stdout_text)
        # The operator's echo goes to the terminal, not to the file.
        self.assertRegex(r.stdout_text, "^[^\n]*k27prog[^\n]*\n"
                         + re.escape("Ready to program K27 firmware release 1.1.5(1)\n"
                                     "Found : K27#0042 (Bench) BootV1.3 CodeV2.1.7\n"
                                     + PROMPT + "Access as Production engineer : Code programming\n")
                         + r"Code flash erase \.\.\. erasing \.\.\. complete \(\d+\.\d{3}secs\)\n"
                         r"Code flash program \.\.\. complete \(\d+\.\d{3}secs\)\n"
                         r"Reset request \.\.\. accepted\nPROGRAMMING SUCCESSFUL\n"
                         + PRESS_SPACE + "\n$")
        self.assertNotIn("PROGRAMMING", r.transcript)


    def test_standard_output_through_a_pipe_shows_the_outcome_during_the_wait(self):
        # As "k27prog | Tee-Object" has it: the operator at the console, the
        # output through a pipe. The space is typed only once the outcome and
        # the prompt have come through the pipe, so the run ends only if they
        # did while the tool waited.
        r = run_tool(bench=bench(), stdout_pipe=True,
                     keys=[TYPE_42, ("PROGRAMMING SUCCESSFUL\n" + PRESS_SPACE + "\n", " ")], timeout=40)
        self.assertEqual(r.status, 0, (r.transcript, r.stdout_text))
        self.assertTrue(r.stdout_text.endswith("Reset request ... accepted\nPROGRAMMING SUCCESSFUL\n"
                                               + PRESS_SPACE + "\n"), r.stdout_text)
        self.assertNotIn("PROGRAMMING", r.transcript)


if __name__ == "__main__":
    unittest.main()
