"""Runs the real k27prog.exe under Wine in a pseudo-terminal, as an operator
would: waits for texts on the screen, types keys, and collects what the
terminal showed, the exit status and the bench simulator's journal."""

import collections
import ctypes
import json
import os
import pathlib
import re
import select
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import zipfile
import zlib
import fcntl
import termios

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(REPO, "model"))
# The model's facts, for the tests that import them from here.
from k27model import (CODE_REVISION_AT, PROFILE_NUMBER_AT, PROFILE_REVISION_AT, journal_runs,  # noqa: E402,F401
                      profile_place, put16, read_journal, seal)
BUILD = os.environ.get("K27_BUILD_DIR", os.path.join(REPO, "build"))
# A prefix wineboot made and nothing has touched since (scripts/test makes it):
# what a fresh prefix is copied from.
PRISTINE = os.path.join(BUILD, "wine-pristine")

# What Wine's console writes to the terminal: control sequences (CSI with
# its parameters and final byte, OSC, short ESC sequences), carriage
# returns, new lines, and runs of text.
_TOKEN = re.compile(r"\x1b\[([0-9;?]*)[ -/]*([@-~])|\x1b\][^\x07\x1b]*(?:\x07|\x1b\\)|\x1b[=>()][0-9A-Za-z]?"
                    r"|\r|\n|[^\x1b\r\n]+|\x1b")


# The pseudo-terminal's size: wide enough that the console wraps none of the
# tool's usual lines (Wine's console wraps at the terminal's width).
TERMINAL_ROWS = 50
TERMINAL_COLUMNS = 400

# What every run shows, and the texts tests wait for.
BANNER = "k27prog - K27 firmware programmer"
PROMPT = "Please enter the serial number of the device you wish to program : "
PRESS_SPACE = "Press space to exit"
SERVER_ERROR = "ERROR COMMUNICATING WITH SERVER"

# The ids a registration writes, as docs/bench.md gives them: the device
# server's class, the simulator's proxy/stub class, the three interfaces.
SERVER_CLASS = "{AF3D8AC6-A1AA-48D0-BB1D-65009ECCBA99}"
PROXY_CLASS = "{5C7535A9-DB5A-4E1A-AAAA-6FB3215EE182}"
INTERFACES = ("{7ADC3EE4-226F-4F84-82F7-20444C1F8C16}", "{5B1F0C2A-8E47-4C39-9D61-2A7E4F3B8C05}",
              "{C4E9A7D3-1B62-4F08-A5C7-93D2E6F10B4A}")


def catalogue_scenarios():
    """The names of the catalogue's scenarios (kit/catalogue/*.json), in order."""
    names = []
    folder = os.path.join(REPO, "kit", "catalogue")
    for name in sorted(os.listdir(folder)):
        if name.endswith(".json"):
            with open(os.path.join(folder, name)) as f:
                names += [scenario["name"] for scenario in json.load(f)["scenarios"]]
    return names


# --- What a failed test shows ---------------------------------------------
# Every program a test runs is recorded with its command, its status and all
# it printed; when the test fails (or one of its subtests does), those of the
# failing test are written to standard error after the failure, so that a red
# run always names what ran and what it said.

_programs = []


def record(command, status, *outputs):
    """Notes a program run: its command (a list), its status (None: stopped
    at its time-out) and what it printed, each output a (name, text) pair."""
    _programs.append((time.monotonic(), [str(a) for a in command], status, outputs))


def _describe(run):
    _, command, status, outputs = run
    said = "`%s` %s" % (" ".join(command), "was stopped at its time-out" if status is None
                         else "ended with status %d" % status)
    for name, text in outputs:
        said += "\n--- %s ---\n%s" % (name, text if text.strip() else "(nothing)")
    return said


def _with_programs_shown(add):
    def added(self, test, *rest):
        started = getattr(test, "_k27_started", None)
        if started is not None and rest and rest[-1] is not None:
            runs = [r for r in _programs if r[0] >= started]
            if runs:
                sys.stderr.write("\n=== the programs %s ran, last first ===\n%s\n" % (
                    test.id(), "\n\n".join(_describe(r) for r in reversed(runs))))
        return add(self, test, *rest)
    return added


_start_test = unittest.TestResult.startTest


def _started(self, test):
    test._k27_started = time.monotonic()
    return _start_test(self, test)


unittest.TestResult.startTest = _started
for _name in ("addFailure", "addError", "addSubTest"):
    setattr(unittest.TestResult, _name, _with_programs_shown(getattr(unittest.TestResult, _name)))


class Ran(collections.namedtuple("Ran", "status out err")):
    """A program run to its end: unpacks as (status, standard output, standard
    error); printed, it says the command, the status and all it wrote."""

    def __new__(cls, command, status, out, err):
        ran = super().__new__(cls, status, out, err)
        ran.command = command
        return ran

    def __str__(self):
        return _describe((0, self.command, self.status, (("standard output", self.out), ("standard error", self.err))))


def checked(argv, **kwargs):
    """Runs a command to its end with no standard input; a Ran. A status
    other than 0 raises, saying the command and all it printed."""
    ran = run_command(argv, **kwargs)
    if ran.status != 0:
        raise RuntimeError(str(ran))
    return ran


def run_command(argv, env=None, cwd=None, timeout=1200):
    """Runs a command to its end with no standard input; a Ran, recorded."""
    done = subprocess.run(argv, env=env, cwd=cwd, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, timeout=timeout)
    ran = Ran([str(a) for a in argv], done.returncode, done.stdout.decode("utf-8", "replace").replace("\r\n", "\n"),
              done.stderr.decode("utf-8", "replace").replace("\r\n", "\n"))
    record(ran.command, ran.status, ("standard output", ran.out), ("standard error", ran.err))
    return ran


def release_1_1_6_2():
    """The shipped code block as release 1.1.6, profile 2: both headers
    changed, both checksums made anew, so a release line tells which image
    a program carries."""
    code = bytearray(zlib.decompress(pathlib.Path(os.path.join(REPO, "resources", "k27image.zlib")).read_bytes()))
    start, size = profile_place(code)
    put16(code, CODE_REVISION_AT, 6)
    put16(code, start + PROFILE_REVISION_AT, 6)
    put16(code, start + PROFILE_NUMBER_AT, 2)
    seal(code, start, size)
    seal(code)
    return bytes(code)


def device(**fields):
    """A K27 unit ready for code programming, with one identity that may
    program it; `fields` override."""
    d = {
        "locator": 1, "endpoint_first": 167772417, "endpoint_second": 5001, "group_id": 513,
        "family": "K27", "boot_branch": 1, "boot_version": 3, "state": 1200, "serial": 42,
        "identity_scope": 1, "identity_qualifier": 42, "code_version": [2, 1, 7], "label": "Bench",
        "identities": [{"kind": 1, "number": 12, "level": 0, "name": "Production engineer"}],
        "access_levels": {"0": "Code programming"},
    }
    d.update(fields)
    return d


def lines(text):
    return [line for line in text.split("\n") if line != ""]


def calls(result):
    """The server operations in the order the simulator saw them."""
    return [e["op"] for e in result.journal if e["op"] not in ("Start", "Client", "Exit", "RunEnd")]


def entry(result, op, index=0):
    return [e for e in result.journal if e["op"] == op][index]


def tool_exe():
    return os.path.join(BUILD, "bin", "k27prog.exe")


def sim_exe():
    return os.path.join(BUILD, "bin", "k27sim.exe")


def kit_exe():
    """The bench kit's console program, beside the simulator, its proxy and
    the catalogue."""
    return os.path.join(BUILD, "bin", "k27kit.exe")


def qualify(exe, *args, prefix=None, timeout=600):
    """Runs `k27kit qualify EXE ARGS` with no console, as a CI server does;
    returns (exit status, what it printed, the seconds it took)."""
    started = time.monotonic()
    status, out, err = run_wine(kit_exe(), "qualify", exe, *args, prefix=prefix, timeout=timeout)
    return status, out + err, time.monotonic() - started


def junit_cases(path):
    """The test cases of a JUnit report: {name: (classname, failure message
    or None, skipped message or None)}, and the suite's attributes."""
    import xml.etree.ElementTree as ElementTree
    root = ElementTree.parse(path).getroot()
    suite = root.find("testsuite")
    cases = {}
    for case in suite.findall("testcase"):
        failure, skipped = case.find("failure"), case.find("skipped")
        cases[case.get("name")] = (case.get("classname"), failure.get("message") if failure is not None else None,
                                   skipped.get("message") if skipped is not None else None)
    return cases, dict(root.attrib), {p.get("name"): p.get("value") for p in suite.find("properties")}


def _fixed_addresses():
    """Address randomisation off for every program this test starts, as
    scripts/fixed-addresses does for the scripts: with it, about one Wine
    start in 4,000 exits 1 with nothing printed."""
    libc = ctypes.CDLL(None, use_errno=True)
    current = libc.personality(0xFFFFFFFF)
    if current != -1:
        libc.personality(current | 0x0040000)  # ADDR_NO_RANDOMIZE


_fixed_addresses()


def _wine_settings():
    """scripts/wine.env: how every Windows program of the project runs."""
    settings = {}
    with open(os.path.join(REPO, "scripts", "wine.env")) as f:
        for line in f:
            line = line.strip()
            if line and not line.startswith("#"):
                name, value = line.split("=", 1)
                settings[name] = value
    return settings


# --- Prefix lanes ------------------------------------------------------------
# A test that registers the bench simulator or creates it through COM owns a
# prefix while it runs: two creations at once in one prefix can be handed each
# other's servers, and a registration changed under a run changes its bench.
# The lanes are the build's prefix and the copies of it that scripts/test makes
# beside it (BUILD/wine-lane-N), each registered and with its wineserver up;
# a test takes the first one free, by a lock held until its process ends (the
# build's wine-run does the same for the COM unit tests). Without copies every
# such test waits for the build's prefix.

_lane = None


def _lane_prefixes():
    found = [os.path.join(BUILD, "wine")]
    while os.path.isfile(os.path.join(BUILD, "wine-lane-%d" % len(found), "system.reg")):
        found.append(os.path.join(BUILD, "wine-lane-%d" % len(found)))
    return found


def lane_prefix():
    """This test process's prefix lane, taken at its first use and held until
    the process ends."""
    global _lane
    if _lane is None:
        locks = os.path.join(BUILD, "wine-lanes")
        os.makedirs(locks, exist_ok=True)
        while _lane is None:
            for index, prefix in enumerate(_lane_prefixes()):
                held = open(os.path.join(locks, "%d.lock" % index), "w")
                try:
                    fcntl.flock(held, fcntl.LOCK_EX | fcntl.LOCK_NB)
                except BlockingIOError:
                    held.close()
                    continue
                _lane = (prefix, held)
                # Its wineserver runs outside any test runner's pipes.
                _quiet(["wineserver", "-p"], wine_env(prefix=prefix))
                break
            else:
                time.sleep(0.5)
    return _lane[0]


def wine_env(extra=None, prefix=None):
    """The environment of a Windows program in this test's prefix lane, or in
    `prefix`."""
    env = dict(os.environ)
    env.update(_wine_settings())
    # The scripts (scripts/bench, scripts/register) take it as K27_WINEPREFIX.
    env["WINEPREFIX"] = env["K27_WINEPREFIX"] = prefix or lane_prefix()
    env["TERM"] = "dumb"
    env.pop("DISPLAY", None)
    env.pop("K27_LANE", None)
    if extra:
        env.update(extra)
    return env


def drive_c(*parts):
    """A path under C:\\ of this test's prefix lane."""
    return os.path.join(lane_prefix(), "drive_c", *parts)


def windows_paths(*paths, prefix=None):
    """The Windows paths under which the prefix's programs see Unix paths."""
    out = subprocess.run(["winepath", "-w"] + list(paths), env=wine_env(prefix=prefix), stdin=subprocess.DEVNULL,
                         stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, check=True, timeout=60)
    found = out.stdout.decode("utf-8").splitlines()
    if len(found) != len(paths):
        raise RuntimeError("winepath gave %r for %r" % (found, paths))
    return found


def run_wine(*args, cwd=None, prefix=None, timeout=120):
    """Runs `wine ARGS` in this test's prefix lane (or `prefix`) with no
    standard input; a Ran (status, standard output, standard error), their
    line ends as LF."""
    return run_command(["wine"] + list(args), env=wine_env(prefix=prefix), cwd=cwd, timeout=timeout)


def simulator(*args, sim=None, prefix=None, check=True):
    """Runs k27sim.exe with the arguments, as a person would from a shell;
    returns (exit status, what it printed on standard output and error)."""
    ran = run_wine(sim or sim_exe(), *args, prefix=prefix)
    if check and ran.status != 0:
        raise RuntimeError(str(ran))
    return ran.status, ran.out + ran.err


def register_simulator(bench=None, journal=None, prefix=None):
    """Registers the simulator in the prefix, machine-wide, with the bench
    and journal files (Unix paths) it is to play and write; None: the
    built-in bench, no journal."""
    args = ["/RegServer"]
    named = [(switch, path) for switch, path in (("/bench", bench), ("/journal", journal)) if path]
    converted = windows_paths(*[path for _, path in named], prefix=prefix) if named else []
    for (switch, _), path in zip(named, converted):
        args += [switch, path]
    return simulator(*args, prefix=prefix)


def clean(raw):
    """The terminal's bytes as the text it shows, rows joined with LF: a
    carriage return goes back to the row's start, where what follows
    overwrites the row (Wine's console rewrites a row so when a long line
    arrives in several writes); erase-to-end and cursor-forward act as on a
    terminal; other control sequences show nothing."""
    text = raw.decode("utf-8", errors="replace")
    rows, row, col = [], [], 0
    for m in _TOKEN.finditer(text):
        token = m.group(0)
        if token == "\n":
            rows.append("".join(row))
            row, col = [], 0
        elif token == "\r":
            col = 0
        elif token.startswith("\x1b"):
            params, final = m.group(1), m.group(2)
            if final == "K" and params in ("", "0"):
                del row[col:]
            elif final == "C" and (params == "" or params.isdigit()):
                # Wine moves the cursor forward over a blank instead of
                # writing it: past the row's end that is a space.
                col += int(params or 1)
                row.extend(" " * (col - len(row)))
        else:
            for c in token:
                if col < len(row):
                    row[col] = c
                else:
                    row.append(c)
                col += 1
    rows.append("".join(row))
    return "\n".join(rows)


class Result:
    """A run of the tool in a terminal; printed, it says the command, the
    status, the screen, what reached a redirected standard output and the
    calls the simulator journaled."""

    def __init__(self):
        self.command = []
        self.transcript = ""
        self.status = None
        self.journal = []
        self.journal_path = None
        self.journal_dir = None
        self.stdout_text = None
        self.stopped_ms = None  # when it was killed at its time-out (ms since 1970)

    def outputs(self):
        shown = [("the terminal", self.transcript)]
        if self.stdout_text is not None:
            shown.append(("standard output", self.stdout_text))
        if self.journal_path:
            shown.append(("the simulator's journal", " ".join(e.get("op", "?") for e in self.journal)))
        return shown

    def __str__(self):
        return _describe((0, self.command, self.status, self.outputs()))

    __repr__ = __str__


class _Reader(threading.Thread):
    def __init__(self, fd):
        super().__init__(daemon=True)
        self.fd = fd
        self.data = bytearray()
        self.lock = threading.Condition()
        self.closed = False

    def run(self):
        while True:
            try:
                ready, _, _ = select.select([self.fd], [], [], 0.2)
                if not ready:
                    continue
                chunk = os.read(self.fd, 65536)
            except OSError:
                chunk = b""
            with self.lock:
                if not chunk:
                    self.closed = True
                    self.lock.notify_all()
                    return
                self.data.extend(chunk)
                self.lock.notify_all()

    def text(self):
        with self.lock:
            return clean(bytes(self.data))

    def wait_for(self, needle, start, deadline, file_path=None):
        """Waits until `needle` shows at or after offset `start` of the
        cleaned transcript (or of the file standard output goes to);
        returns the offset after it, or None."""
        while True:
            with self.lock:
                if file_path:
                    text = clean(pathlib.Path(file_path).read_bytes())
                else:
                    text = clean(bytes(self.data))
                at = text.find(needle, start)
                if at >= 0:
                    return at + len(needle)
                if self.closed:
                    return None
                remaining = deadline - time.monotonic()
                if remaining <= 0:
                    return None
                self.lock.wait(min(remaining, 0.2))


def _set_controlling_tty():
    fcntl.ioctl(0, termios.TIOCSCTTY, 0)


def run_tool(*args, **kwargs):
    """Runs the tool (see _run_tool_once). A run that did not meet its bench
    is run once more, as k27kit qualify plays a scenario again: the simulator
    was registered with a journal, yet the journal stayed empty and the tool
    said it could not reach the server. Wine then failed to start the server
    (about once in some thousands of starts, the tool told "class not
    registered"); the tool never met the bench."""
    result = _run_tool_once(*args, **kwargs)
    shown = lines(result.transcript)
    if result.journal_path and not result.journal and result.status is not None and \
            kwargs.get("register", True) and shown[-2:] == [SERVER_ERROR, PRESS_SPACE]:
        print("the bench simulator did not start; the tool is run again:\n%s" % result, file=sys.stderr)
        result = _run_tool_once(*args, **kwargs)
    return result


def _run_tool_once(exe=None, bench=None, keys=(), stdout_path=None, timeout=60,
                   env=None, journal=True, args=(), register=True, prefix=None, stdout_pipe=False):
    """Runs the tool once in a terminal (see _in_terminal), after
    registering the simulator with `bench` (a dict, a file, or None for the
    built-in bench) and, unless `journal` is False, a fresh journal.
    `register=False` leaves the registration as it stands. `env` adds to the
    tool's environment. Returns a Result."""
    work = tempfile.mkdtemp(prefix="k27e2e-")
    bench_path = None
    if isinstance(bench, dict):
        bench_path = os.path.join(work, "bench.json")
        pathlib.Path(bench_path).write_text(json.dumps(bench))
    elif bench:
        bench_path = os.path.abspath(bench)
    result = Result()
    if isinstance(journal, str):
        result.journal_path = journal
        result.journal_dir = os.path.dirname(journal)
    elif journal:
        result.journal_dir = os.path.join(work, "journal")
        os.makedirs(result.journal_dir)
        result.journal_path = os.path.join(result.journal_dir, "journal.jsonl")
    # The bench and the journal travel in the simulator's registration, as
    # on a Windows PC, never in the tool's environment.
    if register:
        register_simulator(bench_path, result.journal_path, prefix=prefix)
    result.command = ["wine", exe or tool_exe()] + list(args)
    result.transcript, result.status, result.stopped_ms, result.stdout_text = _in_terminal(
        result.command, wine_env(env, prefix), keys, timeout, stdout_path=stdout_path, stdout_pipe=stdout_pipe)
    if result.journal_path and os.path.exists(result.journal_path):
        # The simulator may still be finishing its last line.
        time.sleep(0.2)
        result.journal = read_journal(result.journal_path)
    record(result.command, result.status, *result.outputs())
    return result


def _in_terminal(argv, env, keys, timeout, cwd=None, stdout_path=None, stdout_pipe=False):
    """Runs a command on a fresh pseudo-terminal, its controlling terminal.
    `keys` is a list of (wait-for-text, text-to-type) pairs: each wait looks
    at what showed after the previous one's text; a wait of None types at
    once, a text of None only waits; a text may also be a callable, called
    with the process instead of typing. With `stdout_path`, standard output
    goes to that file, and with `stdout_pipe` through a pipe this process
    reads; the waits then look at what reached the file or the pipe, which
    is only what the program has flushed until the process ends. Standard
    input and standard error stay on the terminal, whose console Wine reads
    keys from. Past `timeout` seconds the process's session is killed.
    Returns (screen text, exit status or None when killed, when it was
    killed in ms since 1970 or None, what reached standard output when it
    was redirected or None)."""
    master, slave = os.openpty()
    fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", TERMINAL_ROWS, TERMINAL_COLUMNS, 0, 0))
    attrs = termios.tcgetattr(slave)
    attrs[3] |= termios.ECHO  # the operator's echo, as a terminal gives it
    termios.tcsetattr(slave, termios.TCSANOW, attrs)
    pipe_in = pipe_out = None
    if stdout_pipe:
        pipe_in, pipe_out = os.pipe()
        out = pipe_out
    else:
        out = open(stdout_path, "wb") if stdout_path else slave
    started = time.monotonic()
    proc = subprocess.Popen(argv, stdin=slave, stdout=out, stderr=slave, env=env, cwd=cwd, start_new_session=True,
                            preexec_fn=_set_controlling_tty, close_fds=True)
    os.close(slave)
    if stdout_pipe:
        os.close(pipe_out)
    elif stdout_path:
        out.close()
    reader = _Reader(master)
    reader.start()
    piped = None
    if stdout_pipe:
        piped = _Reader(pipe_in)
        piped.start()
    deadline = started + timeout
    offset = 0
    status = stopped_ms = stdout_text = None
    try:
        for wait, typed in keys:
            if wait is not None:
                found = (piped or reader).wait_for(wait, offset, deadline, stdout_path)
                if found is None:
                    break
                offset = found
            # A short pause, as a person leaves, so the console is reading.
            if typed is None:
                continue
            time.sleep(0.2)
            if callable(typed):
                typed(proc)
            else:
                os.write(master, typed.encode("utf-8"))
        try:
            status = proc.wait(timeout=max(0.1, deadline - time.monotonic()))
        except subprocess.TimeoutExpired:
            stopped_ms = int(time.time() * 1000)
            try:
                os.killpg(proc.pid, signal.SIGKILL)
            except OSError:
                pass
            proc.wait()
    finally:
        # Whatever the console still had to say.
        time.sleep(0.1)
        reader.join(timeout=1.0)
        screen = clean(bytes(reader.data))
        try:
            os.close(master)
        except OSError:
            pass
        if piped:
            # A server the program started may still hold the pipe open.
            piped.join(timeout=1.0)
            with piped.lock:
                stdout_text = bytes(piped.data).decode("utf-8", errors="replace").replace("\r\n", "\n")
            os.close(pipe_in)
    if stdout_path and os.path.exists(stdout_path):
        stdout_text = pathlib.Path(stdout_path).read_bytes().decode("utf-8", errors="replace").replace("\r\n", "\n")
    return screen, status, stopped_ms, stdout_text


class Station:
    """`k27kit station EXE --record RECORD ARGS` under Wine, its standard
    input and output through pipes, as a scanner's pipe or a file feeds it:
    `type` writes lines, `wait_for` waits for what it prints, `close` ends
    its input, `kill` ends it as a forced kill does (its runs, processes of
    their own, go on). Recorded, with all it printed, once it has ended."""

    def __init__(self, exe, record, *args, prefix=None):
        self.command = ["wine", kit_exe(), "station", exe, "--record", record] + list(args)
        self.proc = subprocess.Popen(self.command, env=wine_env(prefix=prefix), stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.STDOUT, start_new_session=True)
        self.reader = _Reader(self.proc.stdout.fileno())
        self.reader.start()
        self.status = None

    def type(self, *lines):
        self.proc.stdin.write("".join(line + "\r\n" for line in lines).encode("utf-8"))
        self.proc.stdin.flush()

    def wait_for(self, text, timeout=60, count=1):
        """Waits until what the station printed holds `text` `count` times;
        false at the time-out or the station's end."""
        deadline = time.monotonic() + timeout
        with self.reader.lock:
            while clean(bytes(self.reader.data)).count(text) < count:
                if self.reader.closed or time.monotonic() >= deadline or self.proc.poll() is not None:
                    return clean(bytes(self.reader.data)).count(text) >= count
                self.reader.lock.wait(0.2)
        return True

    def close(self):
        self.proc.stdin.close()

    def kill(self):
        os.kill(self.proc.pid, signal.SIGKILL)

    def wait(self, timeout=120):
        """The exit status (None past the time-out, when it is killed)."""
        try:
            self.status = self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.kill()
            self.proc.wait()
        # Under Wine a run the station started holds the station's output
        # open until the run ends (Wine's processes inherit each other's Unix
        # descriptors): what the station wrote is read, not its end awaited.
        time.sleep(0.2)
        if not self.proc.stdin.closed:
            self.proc.stdin.close()
        record(self.command, self.status, ("standard output and error", self.out))
        return self.status

    @property
    def out(self):
        return self.reader.text()


def read_record(path):
    """A station's record file: its lines as JSON objects."""
    with open(path, encoding="utf-8") as f:
        return [json.loads(line) for line in f if line.strip()]


def servers_ended(journal_path, timeout=20):
    """Waits until every server process the journal names has written its
    Exit line: a shared server lingers a moment after its last run, and
    would serve the next run with its own bench whatever is registered by
    then. True once they have."""
    deadline = time.monotonic() + timeout
    while True:
        journal = read_journal(journal_path)
        if {e["pid"] for e in journal if e["op"] == "Start"} <= {e["pid"] for e in journal if e["op"] == "Exit"}:
            return True
        if time.monotonic() > deadline:
            return False
        time.sleep(0.2)


def run_in_terminal(argv, answers, timeout=120, env=None, cwd=REPO):
    """Runs a command in a fresh pseudo-terminal, typing each answer once
    its text shows after where the previous answer's text showed; returns
    (screen text, exit status, None past its time). Its environment is
    `env`, or this test's prefix lane's (wine_env)."""
    env = dict(env or wine_env(), K27_BUILD_DIR=BUILD, TERM="dumb")
    screen, status, _, _ = _in_terminal(argv, env, answers, timeout, cwd=cwd)
    record(argv, status, ("the terminal", screen))
    return screen, status


def _quiet(argv, env, timeout=120):
    """Runs a Wine command with nothing of this process's own streams, so
    that no Wine helper holds on to a test runner's pipe."""
    return subprocess.run(argv, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL, timeout=timeout, close_fds=True)


class FreshPrefix:
    """A Wine prefix made afresh, as a PC that has never seen the kit (no
    registration, nothing of the build's own prefix), with a wineserver of
    its own; `close` (or leaving a `with`) stops it and removes the prefix.
    At `path`, or in a new temporary folder."""

    def __init__(self, path=None):
        # Removed on close: the prefix, or the temporary folder made for it.
        self.made = os.path.abspath(path) if path else tempfile.mkdtemp(prefix="k27e2e-prefix-")
        self.path = os.path.abspath(path) if path else os.path.join(self.made, "wine")
        shutil.rmtree(self.path, ignore_errors=True)
        env = self.env()
        if os.path.isfile(os.path.join(PRISTINE, "system.reg")):
            # A copy of the prefix wineboot made, untouched since: the same
            # files, in a second instead of several of CPU.
            checked(["cp", "-a", PRISTINE, self.path])
        else:
            os.makedirs(self.path)
            _quiet(["wineboot", "-i"], env, timeout=300)
            _quiet(["wineserver", "-w"], env, timeout=300)
        # Started and primed outside the test runner's pipes.
        _quiet(["wineserver", "-p"], env)
        _quiet(["wine", "cmd", "/c", "exit"], env)
        if not os.path.exists(os.path.join(self.path, "system.reg")):
            raise RuntimeError("wineboot made no prefix in %s" % self.path)

    def env(self, extra=None):
        return wine_env(extra, prefix=self.path)

    def drive_c(self, *parts):
        return os.path.join(self.path, "drive_c", *parts)

    def close(self):
        _quiet(["wineserver", "-k"], self.env())
        shutil.rmtree(self.made, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False


def reg_export(key, prefix=None):
    """The registry key and everything under it, as `reg export` writes it
    (a dict of key paths to their values' lines), or {} when it is absent."""
    folder = tempfile.mkdtemp(prefix="k27e2e-reg-")
    out = os.path.join(folder, "export.reg")
    done = run_wine("reg", "export", key, out, "/y", prefix=prefix)
    if not os.path.exists(out):
        shutil.rmtree(folder, ignore_errors=True)
        # Absent is "Unable to find"; anything else is no answer at all.
        if done.status == 1 and "Unable to find the specified registry key" in done.out + done.err:
            return {}
        raise RuntimeError("cannot read the registry key %s: %s" % (key, done))
    data = pathlib.Path(out).read_bytes()
    shutil.rmtree(folder, ignore_errors=True)
    text = data.decode("utf-16") if data[:2] == b"\xff\xfe" else data.decode("utf-8")
    keys = {}
    current = None
    for line in text.replace("\r\n", "\n").split("\n"):
        if line.startswith("[") and line.endswith("]"):
            current = line[1:-1]
            keys[current] = []
        elif current is not None and line.strip():
            keys[current].append(line)
    return keys


# --- The release kit, as a Windows user gets it ----------------------------

def release_zip():
    """The release kit to test: K27_RELEASE_ZIP, or the one scripts/test
    keeps in BUILD/release (scripts/release --check --out BUILD/release).
    None when there is none."""
    named = os.environ.get("K27_RELEASE_ZIP")
    if named:
        return named
    folder = os.path.join(BUILD, "release")
    found = sorted(f for f in os.listdir(folder) if re.fullmatch(r"k27prog-.*-win64\.zip", f)) \
        if os.path.isdir(folder) else []
    return os.path.join(folder, found[-1]) if found else None


def release_tree():
    """The clone in which the release check made the kit, kept with its build
    (K27_RELEASE_TREE, set by scripts/test): kits for other images and signed
    kits are made in it, building again only what differs. Skips the test
    when there is none, unless K27_REQUIRE_RELEASE is set."""
    tree = os.environ.get("K27_RELEASE_TREE")
    if tree and os.path.isfile(os.path.join(tree, "build-release", "CMakeCache.txt")):
        return tree
    if os.environ.get("K27_REQUIRE_RELEASE"):
        raise RuntimeError("no release tree to make kits in (K27_RELEASE_TREE=%s)" % tree)
    raise unittest.SkipTest("no release tree: scripts/test keeps one (scripts/release --check --keep DIR)")


def make_kit(tree, *args, env=None, timeout=1200):
    """scripts/release ARGS in the release tree: a Ran."""
    return run_command([os.path.join(tree, "scripts", "release")] + list(args), env=env, cwd=tree, timeout=timeout)


def unpack_release(zip_path, dest):
    """Unpacks the kit into `dest` (made afresh) as Windows' Extract All
    does: every entry, folders made as named, nothing else from the build
    tree beside it. Returns `dest`."""
    shutil.rmtree(dest, ignore_errors=True)
    os.makedirs(dest)
    with zipfile.ZipFile(zip_path) as z:
        for name in z.namelist():
            # The kit's names are plain relative paths; anything else is a fault.
            if name.startswith("/") or ".." in name.split("/"):
                raise ValueError("unsafe entry in the kit: %r" % name)
        z.extractall(dest)
    return dest
