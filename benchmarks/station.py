#!/usr/bin/env python3
"""What the line station costs and what it keeps, measured under Wine in a
build's prefix with the bench simulator registered (docs/station.md):

  overhead   one run through the station against the same run of the tool
             alone, each started as a person would, medians over --runs runs
  parallel   four devices at --parallel 4 on a shared bench against one
             device alone, each erase and program taking about 2 s
  kills      the station killed at --kills random moments while it programs
             a line of devices two at a time; after each kill the record must
             hold a start line for every run the simulator's journal shows
             and an end line for every run that ended before the kill
  records    `k27kit records` over ten thousand runs in two stations' files,
             with a whole transcript each and a CSV written, median of 5

  benchmarks/station.py [--build DIR] [--runs 10] [--kills 20] [overhead|parallel|kills|records]...

The simulator's registration in the prefix is left pointing at the last
bench played; scripts/register puts the default back."""

import argparse
import calendar
import json
import os
import random
import signal
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(REPO, "model"))
from k27model import journal_runs, read_journal  # noqa: E402


class Lab:
    def __init__(self, build):
        self.build = build
        # The build's own launcher: its prefix, Wine's settings, fixed addresses.
        self.wine = os.path.join(build, "wine-run")
        self.work = tempfile.mkdtemp(prefix="k27-station-bench-")
        self.tool = os.path.join(build, "bin", "k27prog.exe")
        self.kit = os.path.join(build, "bin", "k27kit.exe")

    def windows(self, path):
        # Wine sees the Unix root as Z:.
        return "Z:" + os.path.abspath(path).replace("/", "\\")

    def register(self, bench, journal=None):
        path = os.path.join(self.work, "bench.json")
        with open(path, "w") as f:
            json.dump(bench, f)
        args = [self.wine, os.path.join(self.build, "bin", "k27sim.exe"), "/RegServer", "/bench", self.windows(path)]
        if journal:
            args += ["/journal", self.windows(journal)]
        subprocess.run(args, check=True, stdout=subprocess.DEVNULL, stdin=subprocess.DEVNULL)

    def timed(self, argv, typed):
        started = time.monotonic()
        done = subprocess.run(argv, input=typed.encode(), stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, timeout=600)
        seconds = time.monotonic() - started
        if b"PROGRAMMING SUCCESSFUL" not in done.stdout:
            raise SystemExit("a run did not succeed:\n" + done.stdout.decode("utf-8", "replace"))
        return seconds

    def station(self, record, *args):
        return [self.wine, self.kit, "station", self.tool, "--record", self.windows(record)] + list(args)


def unit(serial, group):
    return {"serial": serial, "locator": serial, "group_id": group, "state": 1200, "family": "K27",
            "boot_branch": 1, "boot_version": 3, "identity_qualifier": serial, "label": "Unit %d" % serial,
            "identities": [{"kind": 1, "number": 12, "level": 0, "name": "Production engineer"}]}


def bench_of(units, shared, erase_ms, program_ms):
    bench = {"devices": units, "delay_ms": {"ErasePoll": erase_ms // 2, "Program": program_ms},
             "status": {"EraseStart": 17, "ErasePoll": [17, 0]}}
    if shared:
        bench["shared"] = True
    return bench


def overhead(lab, runs):
    # One server per run, as most device servers: the tool and the station
    # meet the same server start.
    lab.register(bench_of([unit(42, 513)], False, 200, 200))
    alone, through = [], []
    for i in range(runs):
        alone.append(lab.timed([lab.wine, lab.tool], "42\n"))
        through.append(lab.timed(lab.station(os.path.join(lab.work, "overhead-%d.jsonl" % i)), "42\n"))
    a, s = statistics.median(alone), statistics.median(through)
    print("overhead: the tool alone %.3f s, a station started for it %.3f s (medians of %d; fastest %.3f and %.3f s): "
          "%+.0f ms" % (a, s, runs, min(alone), min(through), (s - a) * 1000))
    # A station that runs all day: each run from its start line to its end
    # line, as the record times it.
    record = os.path.join(lab.work, "overhead-line.jsonl")
    lab.timed(lab.station(record), "42\n" * runs)
    with open(record) as f:
        lines = [json.loads(line) for line in f if line.strip()]
    def ms(text):
        return calendar.timegm(time.strptime(text[:19], "%Y-%m-%dT%H:%M:%S")) * 1000 + int(text[20:23])
    each = statistics.median((ms(e["end"]) - ms(e["start"])) / 1000 for e in lines if e["event"] == "end")
    print("overhead: a run in a running station %.3f s, from its start line to its end line (median of %d): "
          "%+.0f ms" % (each, runs, (each - a) * 1000))


def parallel(lab, runs):
    lab.register(bench_of([unit(40 + i, 600 + i) for i in range(4)], True, 2000, 2000))
    # The shared server started once beforehand, as on a line that runs all day.
    lab.timed(lab.station(os.path.join(lab.work, "warm.jsonl")), "40\n")
    one, four = [], []
    for i in range(runs):
        one.append(lab.timed(lab.station(os.path.join(lab.work, "one-%d.jsonl" % i)), "41\n"))
        four.append(lab.timed(lab.station(os.path.join(lab.work, "four-%d.jsonl" % i), "--parallel", "4"),
                              "40\n41\n42\n43\n"))
    a, b = statistics.median(one), statistics.median(four)
    print("parallel: one device %.2f s, four at --parallel 4 %.2f s (medians of %d): %.2f times" % (a, b, runs, b / a))


def kills(lab, count):
    failures = 0
    for k in range(count):
        record = os.path.join(lab.work, "kill-%d.jsonl" % k)
        journal = os.path.join(lab.work, "kill-%d" % k, "journal.jsonl")
        os.makedirs(os.path.dirname(journal))
        lab.register(bench_of([unit(40 + i, 600 + i) for i in range(12)], True, 600, 300), journal)
        proc = subprocess.Popen(lab.station(record, "--parallel", "2"), stdin=subprocess.PIPE,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        proc.stdin.write(b"".join(b"%d\n" % (40 + i) for i in range(12)))
        proc.stdin.flush()
        after = random.uniform(0.5, 8.0)
        time.sleep(after)
        killed_ms = time.time() * 1000
        os.kill(proc.pid, signal.SIGKILL)
        proc.wait()
        time.sleep(4)  # the runs left go on to their end
        with open(record, "rb") as f:
            text = f.read().decode("utf-8")
        lines = [json.loads(line) for line in text.splitlines() if line.strip()]
        starts = [e for e in lines if e["event"] == "start"]
        ended = {e["pid"] for e in lines if e["event"] == "end"}
        runs = [(client, calls) for client, calls in journal_runs(read_journal(journal)) if client]
        # A run whose last call was answered well before the kill had ended
        # (the tool ends right after its last call) while the station lived.
        done = {client for client, calls in runs if calls[-1].get("ms", killed_ms) < killed_ms - 500}
        missing_end = sorted(done - ended)
        missing_start = len(runs) > len(starts)
        whole = text.endswith("\n") or not text
        ok = not missing_start and not missing_end and whole
        failures += not ok
        # The next bench is not to be played by this one's lingering server.
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline:
            entries = read_journal(journal)
            if {e["pid"] for e in entries if e["op"] == "Start"} <= {e["pid"] for e in entries if e["op"] == "Exit"}:
                break
            time.sleep(0.2)
        print("kill %2d after %.1f s: %d start lines for %d runs, %d end lines for %d ended%s" % (
            k + 1, after, len(starts), len(runs), len(ended), len(done),
            "" if ok else "  LOST: %s" % ("a start" if missing_start else missing_end or "a torn line")))
    print("kills: %d of %d lost a record" % (failures, count))


def records(lab, repeats=5):
    # Two stations' days: ten thousand runs, each a start and an end line
    # whose transcript is as long as a real run's (a listing of four devices).
    listing = "".join("Found : K27#%04d (Line) BootV1.3 CodeV2.1.7\r\n" % (40 + i) for i in range(4))
    files = []
    for station in range(2):
        path = os.path.join(lab.work, "records-%d.jsonl" % station)
        with open(path, "w") as f:
            for run in range(1, 5001):
                serial = 1000 + (run * 7 + station) % 4000
                start = {"record": "k27 station run", "version": 1, "event": "start",
                         "session": "{0D41BB2F-9952-46A9-ABA1-5F8A2074%04X}" % station, "run": run,
                         "pc": "LINE-PC-%d" % station, "user": "operator", "tool": "C:\\K27\\k27prog.exe",
                         "tool_sha256": "8a" * 32, "tool_release": "1.1.5(1)", "typed": str(serial),
                         "serial": serial, "start": "2026-12-10T05:06:07.%03dZ" % (run % 1000)}
                ok = run % 10 != 0
                transcript = ("Ready to program K27 firmware release 1.1.5(1)\r\n" + listing +
                              "Type the serial number of the device to program: %d\r\n" % serial +
                              "Code flash erase ... erasing ... complete (1.771secs)\r\n"
                              "Code flash program ... programming ... complete (1.806secs)\r\n" +
                              ("PROGRAMMING SUCCESSFUL\r\n" if ok else "CODE FLASH ERASE FAILED\r\n") +
                              "Press space to exit\r\n")
                end = dict(start, event="end", end="2026-12-10T05:06:12.003Z", pid=300 + run,
                           status=0 if ok else 1, release="1.1.5(1)",
                           device="Found : K27#%04d (Line) BootV1.3 CodeV2.1.7" % serial,
                           outcome="PROGRAMMING SUCCESSFUL" if ok else "CODE FLASH ERASE FAILED",
                           recognised=True, erase_seconds=1.771, program_seconds=1.806, transcript=transcript)
                f.write(json.dumps(start) + "\n" + json.dumps(end) + "\n")
        files.append(lab.windows(path))
    csv = lab.windows(os.path.join(lab.work, "records.csv"))
    argv = [lab.wine, lab.kit, "records"] + files + ["--csv", csv]
    subprocess.run(argv, check=True, stdout=subprocess.DEVNULL)  # Wine's first start of the kit
    took = []
    for _ in range(repeats):
        started = time.monotonic()
        subprocess.run(argv, check=True, stdout=subprocess.DEVNULL)
        took.append(time.monotonic() - started)
    size = sum(os.path.getsize(os.path.join(lab.work, "records-%d.jsonl" % i)) for i in range(2)) / 1e6
    print("records: ten thousand runs (%.1f MB in two files) summarised with a CSV in %.2f s (median of %d; "
          "fastest %.2f s)" % (size, statistics.median(took), repeats, min(took)))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("what", nargs="*", default=["overhead", "parallel", "kills"])
    parser.add_argument("--build", default=os.environ.get("K27_BUILD_DIR", os.path.join(REPO, "build")))
    parser.add_argument("--runs", type=int, default=10)
    parser.add_argument("--kills", type=int, default=20)
    args = parser.parse_args()
    lab = Lab(os.path.abspath(args.build))
    for what in args.what:
        {"overhead": lambda: overhead(lab, args.runs), "parallel": lambda: parallel(lab, args.runs),
         "kills": lambda: kills(lab, args.kills),
         "records": lambda: records(lab)}[what]()


if __name__ == "__main__":
    main()
