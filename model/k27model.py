"""The second model of what k27prog does, for the Python scripts and tests
(the end-to-end tests, fuzz/make_seeds.py, the release script): the same
facts as the C++ model beside it (model/*.h), written apart from the tool's
sources so that what checks the tool does not share its faults."""

import json
import zlib

# --- the blocks' layout ------------------------------------------------------
# Big-endian fields; the profile block lies inside the code block where the
# code header's store area places it.

CODE_BASE = 0x80000  # the device address of the code block's first byte
CODE_HEADER_SIZE = 92
PROFILE_HEADER_SIZE = 64
STORE_START_AT, STORE_SIZE_AT = 84, 88  # in the code header, 32-bit


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


# --- zlib streams of exact sizes -------------------------------------------

def stored_then_runs(stored, runs):
    """A zlib stream of exactly known sizes: `stored` as one stored block,
    then a final fixed-code block with one copy of the last byte (distance 1)
    per run, each 3 to 10 bytes long. With two runs the stream is
    len(stored) + 16 bytes. Returns (stream, inflated)."""
    n = len(stored)
    out = bytearray(b"\x78\x01\x00")
    out += n.to_bytes(2, "little") + (n ^ 0xFFFF).to_bytes(2, "little") + stored
    data = bytearray(stored)
    bits = []  # deflate's bit order: fields least significant bit first, codes most significant first

    def field(value, n):
        bits.extend((value >> i) & 1 for i in range(n))

    def code(value, n):
        bits.extend((value >> i) & 1 for i in reversed(range(n)))

    field(1, 1)  # final
    field(1, 2)  # fixed codes
    for run in runs:
        code(1 + run - 3, 7)  # length symbols 257.. have 7-bit codes 1..
        code(0, 5)            # distance 1
        data += bytes([data[-1]]) * run
    code(0, 7)  # end of block
    out += bytes(sum(b << i for i, b in enumerate(bits[at:at + 8])) for at in range(0, len(bits), 8))
    out += zlib.adler32(bytes(data)).to_bytes(4, "big")
    return bytes(out), bytes(data)


# --- the simulator's journal -----------------------------------------------

# The programming group and what follows: the calls that change the device.
DEVICE_CALLS = frozenset({"AcquireGroup", "EraseStart", "ErasePoll", "Program", "Reset"})
UNREADABLE = "(unreadable journal line)"


def read_journal(path):
    """The journal's lines (one JSON object each) as far as they are
    written: a last line still being written is left out, a line that is no
    JSON reads as {"op": UNREADABLE}, a missing journal as no lines."""
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
            lines.append({"op": UNREADABLE})
    return lines
