"""The bench simulator as the tool meets it: the default bench, a server
whose client is gone, a shared bench's state file, and scripts/bench. (A
server that dies inside a call, and runs on a shared bench, are scenarios of
the catalogue; no server registered, test_registration.)"""

import json
import os
import pathlib
import re
import tempfile
import time
import unittest

from k27e2e import (PRESS_SPACE, PROMPT, REPO, SERVER_ERROR, calls, device, entry, kit_exe, lines, read_journal,
                    run_in_terminal, run_tool, run_wine, windows_paths)

TYPE_42 = (PROMPT, "42\r")
SPACE = (PRESS_SPACE, " ")


def wait_for_exit_line(result, timeout=5.0):
    """The simulator's last line, once it has ended itself."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        ends = [e for e in read_journal(result.journal_path) if e["op"] == "Exit"]
        if ends:
            return ends[-1]
        time.sleep(0.1)
    return None


class DefaultBenchTest(unittest.TestCase):
    def test_demo_run_programs_the_bench_unit(self):
        cwd_before = sorted(os.listdir(os.getcwd()))
        r = run_tool(keys=[TYPE_42, SPACE])
        self.assertEqual(r.status, 0, r)
        shown = lines(r.transcript)
        found = [line for line in shown if line.startswith("Found : ")]
        self.assertEqual(found, [
            "Found : K27#0042 (Simulated bench) BootV1.3 CodeV2.1.7",
            "Found : K27#0057 (Simulated line 2) BootV1.1",
            "Found : K27#0108 (Simulated shelf) BootV1.2 NOT READY FOR CODE PROGRAMMING",
            "Found : K31#0007 (Simulated lab) BootV3.0 CodeV4.2.0",
            "Found : K27#1234 (Simulated rig B) BootV1.0 CodeV1.9.2",
        ])
        self.assertIn("Access as Line operator : Read only", shown)
        self.assertIn("Access as Production engineer : Code programming", shown)
        # Erase and programming take real time, and the console shows it.
        erase = re.search(r"Code flash erase \.\.\. erasing \.\.\. complete \((\d+\.\d{3})secs\)", r.transcript)
        program = re.search(r"Code flash program \.\.\. complete \((\d+\.\d{3})secs\)", r.transcript)
        self.assertIsNotNone(erase, r)
        self.assertIsNotNone(program, r)
        self.assertGreater(float(erase.group(1)), 1.0)
        self.assertGreater(float(program.group(1)), 1.0)
        self.assertIn("PROGRAMMING SUCCESSFUL", shown)

        self.assertIsNone(entry(r, "Start")["bench"])
        self.assertEqual(entry(r, "OpenDevice")["args"]["locator"], 1)
        self.assertEqual(entry(r, "OpenCodeProgramming")["args"]["identity"], 12)
        # The group's id is one made for this run (the catalogue's calls leave it out).
        self.assertRegex(entry(r, "AcquireGroup")["args"]["group_uuid"], r"^\{[0-9A-F-]{36}\}$")
        self.assertNotEqual(entry(r, "AcquireGroup")["args"]["group_uuid"], "{00000000-0000-0000-0000-000000000000}")
        self.assertEqual(calls(r).count("ErasePoll"), 4)
        exit_line = wait_for_exit_line(r)
        self.assertIsNotNone(exit_line)
        self.assertEqual(exit_line["reason"], "released")

        # Nothing written but the journal and the arrays beside it.
        self.assertEqual(sorted(os.listdir(os.path.dirname(r.journal_dir))), ["journal"])
        self.assertEqual(sorted(os.listdir(r.journal_dir)), ["LoadProfile-1.bin", "Program-1.bin", "journal.jsonl"])
        self.assertEqual(sorted(os.listdir(os.getcwd())), cwd_before)
        program_args = entry(r, "Program")["args"]
        with open(os.path.join(r.journal_dir, program_args["code"]["file"]), "rb") as f:
            self.assertEqual(len(f.read()), program_args["length"])

    def test_without_a_journal_nothing_is_written(self):
        work = tempfile.mkdtemp(prefix="k27e2e-nojournal-")
        path = os.path.join(work, "bench.json")
        pathlib.Path(path).write_text(json.dumps({"devices": [device()]}))
        cwd_before = sorted(os.listdir(os.getcwd()))
        r = run_tool(bench=path, journal=False, keys=[TYPE_42, SPACE])
        self.assertEqual(r.status, 0, r)
        self.assertEqual(os.listdir(work), ["bench.json"])
        self.assertEqual(sorted(os.listdir(os.getcwd())), cwd_before)


class ClientGoneTest(unittest.TestCase):
    def test_the_server_ends_when_its_client_is_gone(self):
        # The client is killed while it waits for the operator: the server
        # learnt the client's process from its calls, and ends with it.
        r = run_tool(bench={"devices": [device()]}, keys=[(PROMPT, None)], timeout=15)
        self.assertIsNone(r.status)  # killed at the time-out
        self.assertIn(PROMPT, r.transcript)
        exit_line = wait_for_exit_line(r, timeout=10)
        self.assertIsNotNone(exit_line, r.journal)
        self.assertEqual(exit_line["reason"], "client gone")
        client = entry(r, "Client")
        self.assertIsInstance(client["client_pid"], int)
        self.assertNotEqual(client["client_pid"], entry(r, "Start")["pid"])

    def test_the_server_ends_when_its_client_dies_waiting_for_the_creation(self):
        # The client is killed while the creation has not answered yet (as a
        # run stopped at a time-out can be): the server never learns its
        # client from a call, and ends with the process that asked for the
        # creation instead of waiting for ever.
        bench = {"devices": [device()], "delay_ms": {"CreateInstance": 60000}}
        r = run_tool(bench=bench, keys=[("Ready to program", None)], timeout=6)
        self.assertIsNone(r.status)  # killed at the time-out
        exit_line = wait_for_exit_line(r, timeout=15)
        self.assertIsNotNone(exit_line, r.journal)
        self.assertEqual(exit_line["reason"], "creator gone")
        # Only once the tool was gone: never under a live client.
        self.assertGreaterEqual(exit_line["ms"], r.stopped_ms, r)
        # The creation never answered.
        self.assertEqual([e["op"] for e in read_journal(r.journal_path)], ["Start", "Exit"])


class SharedBenchTest(unittest.TestCase):
    def test_a_state_file_that_is_not_the_benchs_is_refused_and_left_alone(self):
        work = tempfile.mkdtemp(prefix="k27e2e-shared-")
        bench = os.path.join(work, "bench.json")
        journal = os.path.join(work, "journal.jsonl")
        state = os.path.join(work, "journal.state.json")
        pathlib.Path(bench).write_text(json.dumps({"shared": True, "devices": [device()]}))
        state_win = windows_paths(state)[0]

        def run(keys, refused=None):
            r = run_tool(bench=bench, journal=journal, keys=keys)
            # The server waits a second for another run; the next step
            # must not meet it.
            deadline = time.monotonic() + 15
            while time.monotonic() < deadline:
                ops = [e["op"] for e in read_journal(journal)]
                if ops.count("Start") == ops.count("Exit"):
                    break
                time.sleep(0.1)
            else:
                self.fail("the shared server did not end: %s" % r)
            if refused:
                self.assertEqual(r.status, 1, r)
                self.assertEqual(lines(r.transcript)[-2:], [SERVER_ERROR, PRESS_SPACE])
                self.assertIn(refused, [e for e in read_journal(journal) if e["op"] == "Start"][-1]["error"])
            return r

        def kit_state(*more):
            ran = run_wine(kit_exe(), "state", state_win, *more)
            return ran.status, ran.out + ran.err

        damaged = b'{"format": 1, "bench_sha256": "'
        pathlib.Path(state).write_bytes(damaged)
        run([SPACE], refused="a damaged state file: not whole JSON")
        self.assertEqual(pathlib.Path(state).read_bytes(), damaged)
        status, said = kit_state()
        self.assertEqual(status, 1, said)
        self.assertIn("not a whole state file", said)
        status, said = kit_state("--reset")
        self.assertEqual(status, 0, said)
        self.assertFalse(os.path.exists(state))

        r = run([TYPE_42, SPACE])
        self.assertEqual(r.status, 0, r)
        release = re.search(r"release (\d+)\.(\d+)\.(\d+)\(", r.transcript).groups()
        remembered = json.loads(pathlib.Path(state).read_text())["devices"][0]
        self.assertEqual((remembered["flash"], remembered["code_version"]), ("running", [int(n) for n in release]))
        status, said = kit_state()
        self.assertEqual(status, 0, said)
        self.assertIn("device 1: serial 42, state 1200, code version %s.%s.%s, programmed" % release, said)

        # The bench changed since: the state is another bench's.
        kept = pathlib.Path(state).read_bytes()
        pathlib.Path(bench).write_text(json.dumps({"shared": True, "devices": [device(label="Changed")]}))
        run([SPACE], refused="the state file of another bench")
        self.assertEqual(pathlib.Path(state).read_bytes(), kept)


class BenchScriptTest(unittest.TestCase):
    def test_runs_the_tool_against_the_bench_file_with_its_journal(self):
        work = tempfile.mkdtemp(prefix="k27e2e-bench-")
        path = os.path.join(work, "reset refused.json")
        pathlib.Path(path).write_text(json.dumps({"devices": [device(serial=77)], "status": {"Reset": 5}}))
        journal = os.path.join(work, "run", "journal.jsonl")
        screen, status = run_in_terminal(
            [os.path.join(REPO, "scripts", "bench"), path, "--journal", journal, "--no-build"],
            [(PROMPT, "77\r"), (PRESS_SPACE, " ")])
        self.assertEqual(status, 1, screen)
        self.assertIn("Found : K27#0077 (Bench) BootV1.3 CodeV2.1.7", screen)
        self.assertIn("Reset request ... RESET REJECTED", screen)
        self.assertIn("(k27prog exited with status 1)", screen)
        entries = read_journal(journal)
        self.assertEqual(entries[0]["op"], "Start")
        self.assertTrue(entries[0]["bench"].endswith("reset refused.json"))
        self.assertEqual([e for e in entries if e["op"] == "Reset"][0]["out"]["status"], 5)

    def test_refuses_a_bench_it_cannot_play(self):
        work = tempfile.mkdtemp(prefix="k27e2e-bench-")
        path = os.path.join(work, "bad.json")
        pathlib.Path(path).write_text(json.dumps({"devices": [{"serail": 42}]}))
        screen, status = run_in_terminal([os.path.join(REPO, "scripts", "bench"), path, "--no-build"], [])
        self.assertEqual(status, 2, screen)
        self.assertIn("devices[0].serail: unknown setting", screen)
        self.assertNotIn("k27prog", screen)


if __name__ == "__main__":
    unittest.main()
