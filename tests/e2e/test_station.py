"""The line station rehearsed end to end: k27kit station runs the real
k27prog.exe against the simulator on a shared bench, several at once, and
its record is checked against the simulator's journal, the independent
witness of what reached each device. (The record's format, the transcript's
reading and the summary are the kit's unit tests.)"""

import calendar
import json
import os
import pathlib
import re
import signal
import tempfile
import time
import unittest

from k27e2e import (Station, device, journal_runs, kit_exe, read_journal, read_record, register_simulator, run_wine,
                    servers_ended, tool_exe, windows_paths)

SUCCESS = "PROGRAMMING SUCCESSFUL"
BUSY = "COULD NOT ACQUIRE CODE PROGRAMMING GROUP AT DEVICE"


def line_bench(**erase):
    """A shared bench of a line: 42 on its own group, 57 whose erase fails,
    60 and 61 in one group. The erase is polled twice, taking long enough
    that two runs started together meet at the group."""
    def unit(serial, locator, group, **more):
        return device(serial=serial, locator=locator, group_id=group, identity_qualifier=serial,
                      label="Line %d" % locator, **more)
    return {
        "shared": True,
        "delay_ms": dict({"ErasePoll": 700, "Program": 300}, **erase),
        "status": {"EraseStart": 17, "ErasePoll": [17, 0]},
        "devices": [unit(42, 1, 513), unit(57, 2, 514, status={"ErasePoll": [17, 9]}), unit(60, 3, 600),
                    unit(61, 4, 600)],
    }


def ms(text):
    """An ISO 8601 UTC time with milliseconds as ms since 1970."""
    return calendar.timegm(time.strptime(text[:19], "%Y-%m-%dT%H:%M:%S")) * 1000 + int(text[20:23])


class StationTest(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="k27e2e-station-")
        self.record = os.path.join(self.work, "line.jsonl")
        self.journal = os.path.join(self.work, "journal", "journal.jsonl")
        os.makedirs(os.path.dirname(self.journal))

    def tearDown(self):
        # The next test's bench is not played by this one's shared server.
        servers_ended(self.journal)

    def bench(self, bench):
        path = os.path.join(self.work, "bench.json")
        pathlib.Path(path).write_text(json.dumps(bench))
        register_simulator(path, self.journal)

    def station(self, *args):
        return Station(tool_exe(), windows_paths(self.record)[0], *args)

    def test_a_line_rehearsed_at_two_at_once(self):
        self.bench(line_bench())
        st = self.station("--parallel", "2")
        # Two devices of one group at once: one holds the group, the other
        # ends busy, untouched, and is queued again once the group is free.
        st.type("60", "61")
        self.assertTrue(st.wait_for(": busy: " + BUSY), st.out)
        busy = re.search(r"^(6[01]): busy: ", st.out, re.M).group(1)
        holder = "61" if busy == "60" else "60"
        st.type("42", "0042", "43", "57")
        self.assertTrue(st.wait_for("0042: refused: that device is "), st.out)
        self.assertTrue(st.wait_for(holder + ": " + SUCCESS), st.out)
        st.type("retry")
        self.assertTrue(st.wait_for("retry: queued again: " + busy), st.out)
        for ended in (busy + ": " + SUCCESS, "42: " + SUCCESS, "43: THAT SERIAL NUMBER", "57: CODE FLASH ERASE FAILED"):
            self.assertTrue(st.wait_for(ended), st.out)
        # The same device once more; Ctrl+C while it runs starts nothing
        # new, and the run goes on to its end.
        st.type("42")
        self.assertTrue(st.wait_for("42: started", count=2), st.out)
        os.kill(st.proc.pid, signal.SIGINT)
        self.assertTrue(st.wait_for("Ctrl+C: no new run starts; the runs in progress go on to their end"), st.out)
        st.type("108")
        self.assertTrue(st.wait_for("108: not started: the station is ending (Ctrl+C)"), st.out)
        os.kill(st.proc.pid, signal.SIGINT)
        self.assertTrue(st.wait_for("still running, and waited for: 42 ("), st.out)
        self.assertEqual(st.wait(), 1, st.out)
        self.assertIn("k27kit station: 7 run(s): 4 PROGRAMMING SUCCESSFUL, 3 not, 1 serial(s) not started", st.out)
        self.assertRegex(st.out, r"\n  devices whose last run did not succeed:( 43| 57){2}\n")

        lines = read_record(self.record)
        starts = [e for e in lines if e["event"] == "start"]
        ends = {e["run"]: e for e in lines if e["event"] == "end"}
        self.assertEqual(len(lines), 14, lines)
        self.assertEqual(sorted(ends), sorted(e["run"] for e in starts))
        outcomes = sorted((e["typed"], e["outcome"]) for e in ends.values())
        self.assertEqual(outcomes, sorted([
            ("60", SUCCESS if holder == "60" else BUSY), ("61", SUCCESS if holder == "61" else BUSY),
            (busy, SUCCESS), ("42", SUCCESS), ("42", SUCCESS), ("43", "THAT SERIAL NUMBER IS NOT IN THE LIST OF "
                                                                   "DEVICES FOUND"),
            ("57", "CODE FLASH ERASE FAILED")]))

        # The journal, run for run: every run the record names reached the
        # server as its own client, within its start and end, and nothing
        # else did. (A process id may come again once its process ended.)
        runs = [(client, calls) for client, calls in journal_runs(read_journal(self.journal)) if client]
        self.assertEqual(len(runs), len(ends), runs)
        for e in ends.values():
            with self.subTest(typed=e["typed"], run=e["run"]):
                calls = [c for client, c in runs if client == e["pid"] and
                         ms(e["start"]) <= c[0]["ms"] and c[-1]["ms"] <= ms(e["end"])]
                self.assertEqual(len(calls), 1, e)
                calls = calls[0]
                ops = [c["op"] for c in calls]
                self.assertEqual(e["status"], 0 if e["outcome"] == SUCCESS else 1)
                self.assertTrue(e["transcript"].endswith(e["outcome"] + "\r\nPress space to exit\r\n"))
                if e["typed"] == "43":
                    self.assertIsNone(e["device"])
                    self.assertNotIn("OpenDevice", ops)
                    continue
                serial = int(e["typed"])
                unit = next(d for d in line_bench()["devices"] if d["serial"] == serial)
                self.assertTrue(e["device"].startswith("Found : K27#%04d (Line %d)" % (serial, unit["locator"])), e)
                self.assertEqual([c["args"]["locator"] for c in calls if c["op"] == "OpenDevice"], [unit["locator"]])
                group = [c for c in calls if c["op"] == "AcquireGroup"]
                self.assertEqual(len(group), 1)
                if e["outcome"] == BUSY:
                    self.assertNotEqual(group[0]["out"]["status"], 0)
                    self.assertNotIn("EraseStart", ops)
                    self.assertIsNone(e["erase_seconds"])
                    continue
                self.assertEqual(group[0]["out"]["status"], 0)
                if e["outcome"] == SUCCESS:
                    self.assertEqual([c["out"]["status"] for c in calls if c["op"] in ("Program", "Reset")], [0, 0])
                    self.assertGreater(e["erase_seconds"], 0.6)
                    self.assertGreater(e["program_seconds"], 0.2)
                else:
                    self.assertEqual([c["out"]["status"] for c in calls if c["op"] == "ErasePoll"], [17, 9])
                    self.assertNotIn("Program", ops)
                    self.assertIsNone(e["erase_seconds"])

        # What the records command makes of it, and its CSV.
        csv = os.path.join(self.work, "line.csv")
        ran = run_wine(kit_exe(), "records", *windows_paths(self.record), "--csv", windows_paths(csv)[0])
        self.assertEqual(ran.status, 0, ran)
        self.assertIn("\ndevices programmed more than once: 1\n  0042  2 times: ", ran.out)
        self.assertRegex(ran.out, r"\ndevices whose last run did not succeed: 2\n  0043  THAT SERIAL NUMBER[^\n]*\n"
                                  r"  0057  CODE FLASH ERASE FAILED, ")
        self.assertIn("\nruns with no end: 0\n", ran.out)
        rows = pathlib.Path(csv).read_text(encoding="utf-8-sig").split("\n")
        self.assertEqual(len([r for r in rows if r.strip()]), 8, rows)

    def test_a_station_killed_during_an_erase_loses_no_record(self):
        self.bench(line_bench(ErasePoll=1500))
        st = self.station()
        st.type("42")
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline and not any(e["op"] == "EraseStart" for e in read_journal(self.journal)):
            time.sleep(0.1)
        st.kill()
        st.wait()
        lines = read_record(self.record)
        self.assertEqual([(e["event"], e["typed"]) for e in lines], [("start", "42")], st.out)
        # The run has no console of the station's: it goes on to its end.
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline and not any(e["op"] == "Reset" for e in read_journal(self.journal)):
            time.sleep(0.2)
        self.assertEqual([e["out"]["status"] for e in read_journal(self.journal) if e["op"] == "Reset"], [0])

        again = self.station()
        again.close()
        self.assertEqual(again.wait(), 0, again.out)
        self.assertRegex(again.out, r"1 run\(s\) in the record have no end[^\n]*\n  Each of these devices may be "
                                    r"erased or partly programmed: program it again\.\n    42  started " +
                         re.escape(lines[0]["start"]))
        ran = run_wine(kit_exe(), "records", *windows_paths(self.record))
        self.assertIn("\nruns with no end: 1\n  0042  started " + lines[0]["start"], ran.out)

    def test_a_record_that_cannot_be_written_is_refused_before_any_run(self):
        bench = os.path.join(self.work, "bench.json")
        pathlib.Path(bench).write_text('{"devices": []}\n')
        for record, why in ((os.path.join(self.work, "no folder", "line.jsonl"), "cannot be written: "),
                            (bench, "is not a station's record (no line of it is a run's)")):
            with self.subTest(record=record):
                ran = run_wine(kit_exe(), "station", tool_exe(), "--record", windows_paths(record)[0])
                self.assertEqual(ran.status, 1, ran)
                self.assertIn(why, ran.err)
                self.assertNotIn(": started", ran.out)
        self.assertEqual(pathlib.Path(bench).read_text(), '{"devices": []}\n')


if __name__ == "__main__":
    unittest.main()
