"""Runs the real k27prog.exe under Wine in a pseudo-terminal, as an operator
would: waits for texts on the screen, types keys, and collects what the
terminal showed, the exit status and the bench simulator's journal."""

import json
import os
import re
import select
import shutil
import signal
import subprocess
import tempfile
import threading
import time
import zipfile
import fcntl
import termios

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
BUILD = os.environ.get("K27_BUILD_DIR", os.path.join(REPO, "build"))

# Terminal control sequences Wine's console may write around the text.
_CONTROL = re.compile(r"\x1b\[[0-9;?]*[ -/]*[@-~]|\x1b\][^\x07\x1b]*(\x07|\x1b\\)|\x1b[=>()][0-9A-Za-z]?")


_FORWARD = re.compile(r"\x1b\[(\d*)C")


# What every run shows, and the texts tests wait for.
BANNER = "k27prog - K27 firmware programmer"
PROMPT = "Please enter the serial number of the device you wish to program : "
PRESS_SPACE = "Press space to exit"
SERVER_ERROR = "ERROR COMMUNICATING WITH SERVER"


def _crc_table():
    table = []
    for i in range(256):
        c = i << 24
        for _ in range(8):
            c = ((c << 1) ^ 0x04C11DB7) if c & 0x80000000 else (c << 1)
            c &= 0xFFFFFFFF
        table.append(c)
    return table


_TABLE = _crc_table()


def block_crc(data):
    """The block checksum's CRC-32 (MSB first, all ones in and out), written
    independently of the tool's own."""
    c = 0xFFFFFFFF
    for b in data:
        c = ((c << 8) & 0xFFFFFFFF) ^ _TABLE[(c >> 24) ^ b]
    return c ^ 0xFFFFFFFF


def seal(block, start=0, length=None):
    """Stores in the last word of block[start:start+length] the checksum of
    the bytes before it."""
    if length is None:
        length = len(block) - start
    crc = block_crc(block[start:start + length - 4])
    block[start + length - 4:start + length] = crc.to_bytes(4, "big")


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
    return [e["op"] for e in result.journal if e["op"] not in ("Start", "Exit")]


def entry(result, op, index=0):
    return [e for e in result.journal if e["op"] == op][index]


def tool_exe():
    return os.path.join(BUILD, "src", "run", "k27prog.exe")


def wine_env(extra=None):
    env = dict(os.environ)
    env.update({
        "WINEPREFIX": os.path.join(BUILD, "wine"),
        "WINEARCH": "win64",
        "WINEDEBUG": "-all",
        "WINEDLLOVERRIDES": "mscoree,mshtml=",
        "TERM": "dumb",
    })
    env.pop("DISPLAY", None)
    if extra:
        env.update(extra)
    return env


def clean(raw):
    """The terminal's bytes as text: control sequences gone, CRLF -> LF."""
    text = raw.decode("utf-8", errors="replace")
    # Wine's console moves the cursor forward over a blank instead of
    # writing it: at the end of the line that is the same as spaces.
    text = _FORWARD.sub(lambda m: " " * int(m.group(1) or 1), text)
    text = _CONTROL.sub("", text)
    text = text.replace("\r\n", "\n")
    # A lone CR (carriage return without a new line) only moves the cursor.
    text = re.sub(r"\r+(?=\n)", "", text).replace("\r", "")
    return text


class Result:
    def __init__(self):
        self.raw = b""
        self.transcript = ""
        self.status = None
        self.journal = []
        self.journal_path = None
        self.journal_dir = None
        self.stdout_text = None
        self.elapsed = 0.0

    def __repr__(self):
        return "Result(status=%r, transcript=%r)" % (self.status, self.transcript)


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
                    with open(file_path, "rb") as f:
                        text = clean(f.read())
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


def run_tool(exe=None, bench=None, keys=(), stdout_path=None, timeout=60,
             env=None, journal=True, args=()):
    """Runs the tool once. `keys` is a list of (wait-for-text, text-to-type)
    pairs; a wait of None types at once. With `stdout_path`, standard output
    goes to that file and the waits look at the file: it only holds what the
    tool has flushed (its prompt) until the process ends. Returns a Result."""
    exe = exe or tool_exe()
    work = tempfile.mkdtemp(prefix="k27e2e-")
    extra = {}
    if isinstance(bench, dict):
        bench_path = os.path.join(work, "bench.json")
        with open(bench_path, "w") as f:
            json.dump(bench, f)
        extra["K27SIM_BENCH"] = bench_path
    elif bench:
        extra["K27SIM_BENCH"] = os.path.abspath(bench)
    result = Result()
    if journal:
        result.journal_dir = os.path.join(work, "journal")
        os.makedirs(result.journal_dir)
        result.journal_path = os.path.join(result.journal_dir, "journal.jsonl")
        extra["K27SIM_JOURNAL"] = result.journal_path
    if env:
        extra.update(env)

    master, slave = os.openpty()
    attrs = termios.tcgetattr(slave)
    attrs[3] |= termios.ECHO  # the operator's echo, as a terminal gives it
    termios.tcsetattr(slave, termios.TCSANOW, attrs)
    out = open(stdout_path, "wb") if stdout_path else slave
    started = time.monotonic()
    proc = subprocess.Popen(["wine", exe] + list(args), stdin=slave, stdout=out, stderr=slave,
                            env=wine_env(extra), start_new_session=True,
                            preexec_fn=_set_controlling_tty, close_fds=True)
    os.close(slave)
    if stdout_path:
        out.close()
    reader = _Reader(master)
    reader.start()
    deadline = started + timeout
    offset = 0
    try:
        for wait, typed in keys:
            if wait is not None:
                found = reader.wait_for(wait, offset, deadline, stdout_path)
                if found is None:
                    break
                offset = found
            # A short pause, as a person leaves, so the console is reading.
            time.sleep(0.2)
            os.write(master, typed.encode("utf-8"))
        try:
            result.status = proc.wait(timeout=max(0.1, deadline - time.monotonic()))
        except subprocess.TimeoutExpired:
            try:
                os.killpg(proc.pid, signal.SIGKILL)
            except OSError:
                pass
            proc.wait()
            result.status = None
    finally:
        result.elapsed = time.monotonic() - started
        # Whatever the console still had to say.
        time.sleep(0.1)
        reader.join(timeout=1.0)
        result.raw = bytes(reader.data)
        result.transcript = clean(result.raw)
        try:
            os.close(master)
        except OSError:
            pass
    if stdout_path and os.path.exists(stdout_path):
        with open(stdout_path, "rb") as f:
            result.stdout_text = f.read().decode("utf-8", errors="replace").replace("\r\n", "\n")
    if result.journal_path and os.path.exists(result.journal_path):
        # The simulator may still be finishing its last line.
        time.sleep(0.2)
        with open(result.journal_path) as f:
            for line in f:
                line = line.strip()
                if line:
                    result.journal.append(json.loads(line))
    return result


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


class FreshPrefix:
    """A new Wine prefix of its own at `path`, booted, with a persistent
    wineserver that is stopped (and the prefix removed) on leaving:

        with FreshPrefix(path) as prefix:
            prefix.run("cmd", "/c", "k27prog.exe", cwd=kit)
            run_tool(exe=..., env=prefix.env)

    Nothing of the build's own prefix (no registration) is in it."""

    def __init__(self, path):
        self.path = os.path.abspath(path)
        self.env = {"WINEPREFIX": self.path}

    def _quiet(self, args, timeout):
        return subprocess.run(args, env=wine_env(self.env), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, timeout=timeout)

    def __enter__(self):
        shutil.rmtree(self.path, ignore_errors=True)
        os.makedirs(self.path)
        self._quiet(["wineboot", "-i"], 300)
        self._quiet(["wineserver", "-w"], 300)
        # Started outside any test runner's pipes; exit status 2 when running.
        self._quiet(["wineserver", "-p"], 60)
        self._quiet(["wine", "cmd", "/c", "exit"], 120)
        if not os.path.exists(os.path.join(self.path, "system.reg")):
            raise RuntimeError("wineboot made no prefix in %s" % self.path)
        return self

    def run(self, *args, cwd=None, timeout=120):
        """`wine ARGS` in this prefix; returns (status, output), the output
        with CRLF as LF."""
        done = subprocess.run(["wine"] + list(args), env=wine_env(self.env), cwd=cwd, stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=timeout)
        return done.returncode, done.stdout.decode("utf-8", "replace").replace("\r\n", "\n")

    def __exit__(self, *exc):
        self._quiet(["wineserver", "-k"], 60)
        shutil.rmtree(self.path, ignore_errors=True)
        return False
