"""The second model of what k27prog does, for the Python scripts and tests
(the end-to-end tests, fuzz/make_seeds.py, the release script): the same
facts as the C++ model beside it (model/*.h), written apart from the tool's
sources so that what checks the tool does not share its faults
(tests/e2e/test_docs.py holds the two models to each other)."""

import json
import os
import re

# --- the blocks' layout ------------------------------------------------------
# Big-endian fields; the profile block lies inside the code block where the
# code header's store area places it.

CODE_BASE = 0x80000  # the device address of the code block's first byte
CODE_HEADER_SIZE, PROFILE_HEADER_SIZE = 92, 64
# Both headers: magic and block type (16-bit), start and end address
# (32-bit), the target name, the header's length (16-bit), its versions X
# and Y (8-bit).
MAGIC_AT, NAME_AT, HEADER_LENGTH_AT, X_VERSION_AT, Y_VERSION_AT = 0, 16, 48, 50, 51
# The code header: branch, version and revision (16-bit), the store area's
# device address and size (32-bit).
CODE_BRANCH_AT, CODE_VERSION_AT, CODE_REVISION_AT, STORE_START_AT, STORE_SIZE_AT = 74, 76, 78, 84, 88
# The profile header (16-bit each).
PROFILE_REVISION_AT, FROM_REVISION_AT, PROFILE_NUMBER_AT = 56, 58, 60


def get16(block, at):
    return int.from_bytes(block[at:at + 2], "big")


def put16(block, at, value):
    block[at:at + 2] = value.to_bytes(2, "big")


def profile_place(code):
    """Where the code header places the profile block in the code block:
    (offset, length), whether or not it lies inside."""
    return (int.from_bytes(code[STORE_START_AT:STORE_START_AT + 4], "big") - CODE_BASE,
            int.from_bytes(code[STORE_SIZE_AT:STORE_SIZE_AT + 4], "big"))


# --- the blocks' checksum: CRC-32/BZIP2 ----------------------------------
# Most significant bit first, polynomial 0x04C11DB7, all ones in and out;
# stored big-endian in the block's last word. (zlib.crc32 is another CRC.)

def _crc_table():
    table = []
    for i in range(256):
        c = i << 24
        for _ in range(8):
            c = (((c << 1) ^ 0x04C11DB7) if c & 0x80000000 else (c << 1)) & 0xFFFFFFFF
        table.append(c)
    return table


_TABLE = _crc_table()


def block_crc(data):
    c = 0xFFFFFFFF
    for b in data:
        c = ((c << 8) & 0xFFFFFFFF) ^ _TABLE[(c >> 24) ^ b]
    return c ^ 0xFFFFFFFF


def seal(block, start=0, length=None):
    """Stores in the last word of block[start:start+length] (a bytearray)
    the checksum of the bytes before it."""
    if length is None:
        length = len(block) - start
    block[start + length - 4:start + length] = block_crc(block[start:start + length - 4]).to_bytes(4, "big")


# --- the outcomes ------------------------------------------------------------
# The C++ model's table (outcomes.cc beside this file), read rather than
# written again.

def outcomes():
    """(message, status, whether a run can reach it) of every end of a run,
    in the order a run can reach them."""
    with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "outcomes.cc")) as f:
        rows = re.findall(r'^\s*\{"([A-Z][^"]+)", (\d+), S::k\w+, (nullptr|k\w+)\},$', f.read(), re.M)
    return [(message, int(status), why_not == "nullptr") for message, status, why_not in rows]


# --- the simulator's journal -----------------------------------------------


def read_journal(path):
    """The journal's lines (one JSON object each) as far as they are
    written: a last line still being written is left out, a line that is no
    JSON reads as {"op": "(unreadable journal line)"}, a missing journal as no lines."""
    try:
        with open(path, "rb") as f:
            text = f.read().decode("utf-8", "replace")
    except FileNotFoundError:
        return []
    lines = []
    for line in text.split("\n")[:-1]:
        try:
            lines.append(json.loads(line))
        except ValueError:
            lines.append({"op": "(unreadable journal line)"})
    return lines


def journal_runs(journal):
    """The runs a journal shows, in the order they first reached the server:
    each a (client process id, its call lines) pair. A server of one run
    holds one run; a shared server numbers its runs ("session"). Windows
    gives a process id to another process once the first has ended, so two
    runs may share a client's id."""
    runs = {}
    for e in journal:
        if e["op"] in ("Start", "Exit", "(unreadable journal line)"):
            continue
        run = runs.setdefault((e.get("pid"), e.get("session")), [None, []])
        if e.get("client_pid") is not None:
            run[0] = e["client_pid"]
        if e["op"] not in ("Client", "RunEnd"):
            run[1].append(e)
    return [(client, calls) for client, calls in runs.values() if calls]
