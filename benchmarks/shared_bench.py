#!/usr/bin/env python3
"""What a shared bench does under load, measured with the real k27prog.exe
and k27sim.exe under Wine (docs/performance.md, "A shared bench"):

  parallel   four tools at once on four devices in four groups, each erase
             and each program taking about 2 s, against one run alone;
  one-device four tools at once picking one device: one programs it, three
             end at the group with no erase;
  kills      a shared server killed during an erase, again and again, with a
             run that programmed a device before it: the state file must
             read back whole and name what that run did.

Run by benchmarks/shared-bench, which gives it a Wine prefix of its own
with the simulator registered; it re-registers the simulator for each of
its benches. Prints one line per measurement and a summary; exit status 1
when a check fails."""

import argparse
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

BUILD = os.environ["K27_BUILD_DIR"]
TOOL = os.path.join(BUILD, "bin", "k27prog.exe")
SIM = os.path.join(BUILD, "bin", "k27sim.exe")
GROUP_REFUSED = "COULD NOT ACQUIRE CODE PROGRAMMING GROUP AT DEVICE"


def windows(path):
    """A Unix path as the Windows programs take it (winepath cuts long ones)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def device(serial, group):
    return {"locator": serial, "endpoint_first": 0x0A000000 + serial, "endpoint_second": 5001, "group_id": group,
            "family": "K27", "boot_branch": 1, "boot_version": 3, "state": 1200, "serial": serial,
            "identity_scope": 1, "identity_qualifier": serial, "code_version": [2, 1, 7], "label": "Bench",
            "identities": [{"kind": 1, "number": 12, "level": 0, "name": "Production engineer"}]}


def bench(erase_ms_per_poll, polls, program_ms, groups):
    return {"shared": True, "devices": [device(41 + i, group) for i, group in enumerate(groups)],
            "status": {"ErasePoll": [17] * (polls - 1) + [0]},
            "delay_ms": {"ErasePoll": erase_ms_per_poll, "Program": program_ms}}


class Bench:
    """A bench file, its journal and its state file in a folder of their own,
    with the simulator registered to play it."""

    def __init__(self, work, name, contents):
        self.folder = os.path.join(work, name)
        shutil.rmtree(self.folder, ignore_errors=True)
        os.makedirs(self.folder)
        self.path = os.path.join(self.folder, "bench.json")
        self.journal = os.path.join(self.folder, "journal.jsonl")
        self.state = os.path.join(self.folder, "journal.state.json")
        with open(self.path, "w") as f:
            json.dump(contents, f)
        subprocess.run(["wine", SIM, "/RegServer", "/bench", windows(self.path), "/journal", windows(self.journal)],
                       check=True, stdout=subprocess.DEVNULL, stdin=subprocess.DEVNULL)

    def lines(self):
        if not os.path.exists(self.journal):
            return []
        with open(self.journal, encoding="utf-8") as f:
            return [json.loads(line) for line in f if line.endswith("\n")]

    def wait_for_servers(self, timeout=30):
        """Until every server process that started has journaled its end."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            lines = self.lines()
            started = {l["pid"] for l in lines if l["op"] == "Start"}
            ended = {l["pid"] for l in lines if l["op"] == "Exit" or l.get("crash")}
            if started <= ended:
                return
            time.sleep(0.1)
        raise RuntimeError("a simulator did not end: %s" % self.journal)

    def reset(self):
        self.wait_for_servers()
        for path in (self.journal, self.state):
            if os.path.exists(path):
                os.remove(path)


def start_tool(serial):
    tool = subprocess.Popen(["wine", TOOL], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT)
    tool.stdin.write(("%d\r\n" % serial).encode())
    tool.stdin.close()
    return tool


def finish(tool):
    out = tool.stdout.read().decode("utf-8", "replace")
    return tool.wait(), out


def tools_at_once(serials):
    began = time.monotonic()
    tools = [start_tool(s) for s in serials]
    results = [finish(t) for t in tools]
    return time.monotonic() - began, results


def parallel(work, repeats):
    b = Bench(work, "parallel", bench(500, 4, 2000, [0x201, 0x202, 0x203, 0x204]))
    alone, together, ok = [], [], True
    for i in range(repeats):
        b.reset()
        seconds, [(status, out)] = tools_at_once([41])
        ok &= status == 0
        alone.append(seconds)
        print("one run alone:          %.2f s (status %d)" % (seconds, status))
        b.reset()
        seconds, results = tools_at_once([41, 42, 43, 44])
        statuses = [s for s, _ in results]
        ok &= statuses == [0, 0, 0, 0]
        together.append(seconds)
        print("four runs at once:      %.2f s (statuses %s)" % (seconds, statuses))
    ratio = statistics.median(together) / statistics.median(alone)
    print("parallel: median %.2f s alone, %.2f s four at once: %.2f times (at most 1.25)%s" %
          (statistics.median(alone), statistics.median(together), ratio, "" if ok else "; A RUN FAILED"))
    return ok and ratio <= 1.25


def one_device(work, repeats):
    b = Bench(work, "one-device", bench(500, 4, 2000, [0x201]))
    ok = True
    for i in range(repeats):
        b.reset()
        _, results = tools_at_once([41, 41, 41, 41])
        b.wait_for_servers()
        lines = b.lines()
        succeeded = sum(1 for s, out in results if s == 0 and "PROGRAMMING SUCCESSFUL" in out)
        refused = sum(1 for s, out in results if s == 1 and GROUP_REFUSED in out)
        erasers = {l.get("client_pid") for l in lines if l["op"] == "EraseStart"}
        refused_groups = sum(1 for l in lines if l["op"] == "AcquireGroup" and l.get("out", {}).get("status") == 0x107)
        good = succeeded == 1 and refused == 3 and len(erasers) == 1 and refused_groups == 3
        ok &= good
        print("four runs on one device: %d programmed, %d refused at the group, %d client(s) erased%s" %
              (succeeded, refused, len(erasers), "" if good else ": WRONG"))
    return ok


def restart_wine():
    """A server killed from outside leaves Wine's COM service with a stale
    registration: every later creation fails until the wineserver restarts."""
    subprocess.run(["wineserver", "-k"], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    subprocess.run(["wineserver", "-w"], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    subprocess.run(["wineserver", "-p"], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    subprocess.run(["wine", "cmd", "/c", "exit"], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)


def kills(work, rounds):
    b = Bench(work, "kills", bench(400, 3, 300, [0x201, 0x202, 0x203, 0x204]))
    b.reset()
    ok = True
    for i in range(rounds):
        programmed, killed = 41 + i % 4, 41 + (i + 1) % 4
        status, out = finish(start_tool(programmed))
        lines = b.lines()
        uuid = [l for l in lines if l["op"] == "AcquireGroup" and l.get("out", {}).get("status") == 0][-1]["group_uuid"]
        # The next run, killed with its server once its erase has started.
        tool = start_tool(killed)
        deadline = time.monotonic() + 30
        server = None
        while time.monotonic() < deadline and server is None:
            for line in b.lines()[len(lines):]:
                if line["op"] == "EraseStart" and line.get("client_pid"):
                    server = line["pid"]
            time.sleep(0.02)
        if server is not None:
            subprocess.run(["wine", "taskkill", "/f", "/pid", str(server)], stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        finish(tool)
        with open(b.state, encoding="utf-8") as f:
            text = f.read()
        try:
            state = json.loads(text)
            before = state["devices"][programmed - 41]
            whole = (state["format"] == 1 and before["flash"] == "running" and
                     before["last_change"]["group_uuid"] == uuid and before["last_change"]["op"] == "Reset")
            done, during = before["flash"], state["devices"][killed - 41]["flash"]
        except (ValueError, KeyError, IndexError, TypeError):
            whole, done, during = False, "?", "?"
        good = status == 0 and server is not None and whole
        ok &= good
        print("kill %2d: the run before programmed device %d (status %d); server killed in the erase of device %d; "
              "the state file %s, device %d %s, device %d %s%s" %
              (i + 1, programmed, status, killed, "reads back whole" if whole else "IS WRONG", programmed, done,
               killed, during, "" if good else ": WRONG"))
        restart_wine()
        # The journal of the killed server ends with no Exit: start afresh,
        # keeping the state file.
        os.remove(b.journal)
    return ok


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--repeats", type=int, default=3)
    parser.add_argument("--kills", type=int, default=20)
    parser.add_argument("--only", choices=["parallel", "one-device", "kills"])
    args = parser.parse_args()
    work = tempfile.mkdtemp(prefix="k27-shared-bench-")
    results = {}
    try:
        if args.only in (None, "parallel"):
            results["parallel"] = parallel(work, args.repeats)
        if args.only in (None, "one-device"):
            results["one-device"] = one_device(work, args.repeats)
        if args.only in (None, "kills"):
            results["kills"] = kills(work, args.kills)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("summary: " + ", ".join("%s %s" % (k, "ok" if v else "FAILED") for k, v in results.items()))
    return 0 if all(results.values()) else 1


if __name__ == "__main__":
    sys.exit(main())
