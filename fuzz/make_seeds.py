#!/usr/bin/env python3
"""Writes the small seed inputs of the fuzz targets under fuzz/corpus/.
The shipped image is a seed too (a link to resources/k27image.zlib); the
rest are small so that the fuzzers start from quick runs. Run again only to
change the seeds; inputs kept for faults found are not written here."""

import os
import random
import struct
import sys
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "corpus")
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "model"))
from k27model import (CODE_BASE, CODE_BRANCH_AT, CODE_HEADER_SIZE, HEADER_LENGTH_AT, MAGIC_AT, NAME_AT,  # noqa: E402
                      PROFILE_HEADER_SIZE, seal)


def small_image(code_size=4096, store_offset=1024, store_size=512):
    """A code block that passes every check, small enough to run fast:
    random bytes in the body keep its stream above the 1024-byte minimum."""
    rng = random.Random(27)
    code = bytearray(rng.getrandbits(8) for _ in range(1400)) + bytearray(code_size - 1400)
    code[0:CODE_HEADER_SIZE] = bytes(CODE_HEADER_SIZE)
    struct.pack_into(">HHII", code, MAGIC_AT, 0xC0DE, 1, CODE_BASE, CODE_BASE + code_size - 1)
    code[NAME_AT:NAME_AT + 4] = b"K27\0"
    struct.pack_into(">HBB", code, HEADER_LENGTH_AT, CODE_HEADER_SIZE, 1, 2)
    struct.pack_into(">HHHHHII", code, CODE_BRANCH_AT, 1, 1, 5, 1, 1, CODE_BASE + store_offset, store_size)
    profile = bytearray(code[store_offset:store_offset + store_size])
    profile[0:PROFILE_HEADER_SIZE] = bytes(PROFILE_HEADER_SIZE)
    struct.pack_into(">HHII", profile, MAGIC_AT, 0xC0DE, 3, 0, store_size - 1)
    profile[NAME_AT:NAME_AT + 4] = b"K27\0"
    struct.pack_into(">HBBHHHHHH", profile, HEADER_LENGTH_AT, PROFILE_HEADER_SIZE, 1, 0, 1, 1, 5, 5, 1, 1)
    seal(profile)
    code[store_offset:store_offset + store_size] = profile
    seal(code)
    return bytes(code)


def write(target, name, data):
    folder = os.path.join(CORPUS, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def image_seeds():
    rng = random.Random(1)
    write("image_fuzzer", "small-valid.zlib", zlib.compress(small_image(), 9))
    # The profile block at an odd address, just before the checksum word.
    write("image_fuzzer", "small-unaligned-store.zlib",
          zlib.compress(small_image(store_offset=3577, store_size=512), 9))
    # Too small to be the image.
    write("image_fuzzer", "too-small.zlib", zlib.compress(bytes(4000), 9))
    # Stored, not compressed: inflates to less than it holds.
    write("image_fuzzer", "stored.zlib", zlib.compress(bytes(rng.getrandbits(8) for _ in range(1500)), 0))
    # One seed for each check, failing it and passing every check before it.
    def broken(name, code_edit=None, profile_edit=None, size=None, reseal_profile=True, reseal_code=True):
        code = bytearray(small_image())
        if profile_edit:
            profile = bytearray(code[1024:1536])
            profile_edit(profile)
            if reseal_profile:
                seal(profile)
            code[1024:1536] = profile
        if code_edit:
            code_edit(code)
        if size is not None:
            del code[size:]
            struct.pack_into(">I", code, 8, CODE_BASE + size - 1)
        if reseal_code and len(code) % 4 == 0:
            seal(code)
        write("image_fuzzer", "check-" + name + ".zlib", zlib.compress(bytes(code), 9))

    def put(fmt, offset, *values):
        return lambda block: struct.pack_into(fmt, block, offset, *values)

    broken("code-size", size=4095)
    broken("code-crc", code_edit=put(">B", 200, 1), reseal_code=False)
    broken("code-magic", code_edit=put(">H", 0, 0xC0DF))
    broken("code-type", code_edit=put(">H", 2, 3))
    broken("code-target", code_edit=put("4s", 16, b"K27X"))
    broken("code-start", code_edit=put(">I", 4, 0x7FFFC))
    broken("code-end", code_edit=put(">I", 8, CODE_BASE + 4096))
    broken("code-x-version", code_edit=put(">B", 50, 2))
    broken("code-y-version", code_edit=put(">B", 51, 3))
    broken("store-start", code_edit=put(">I", 84, 0x7FFFF))
    broken("store-size", code_edit=put(">I", 88, 4096 - 1024 + 4))
    broken("profile-size", code_edit=put(">I", 88, 510))
    broken("profile-crc", profile_edit=put(">B", 100, 1), reseal_profile=False)
    broken("profile-magic", profile_edit=put(">H", 0, 0xC0DF))
    broken("profile-type", profile_edit=put(">H", 2, 1))
    broken("profile-target", profile_edit=put("4s", 16, b"k27\0"))
    broken("profile-start", profile_edit=put(">I", 4, 1))
    broken("profile-end", profile_edit=put(">I", 8, 512))
    broken("profile-x-version", profile_edit=put(">B", 50, 0))
    broken("profile-y-version", profile_edit=put(">B", 51, 1))
    broken("branch", profile_edit=put(">H", 52, 0x0101))
    broken("version", profile_edit=put(">H", 54, 2))
    broken("revision", profile_edit=put(">H", 56, 4))
    broken("from-revision", profile_edit=put(">H", 58, 6))
    # A stream the decompressor rejects: its Adler-32 is wrong.
    bad = bytearray(zlib.compress(small_image(), 9))
    bad[-1] ^= 1
    write("image_fuzzer", "bad-adler.zlib", bytes(bad))
    # Bytes after the end of a sound stream.
    write("image_fuzzer", "trailing-bytes.zlib", zlib.compress(small_image(), 9) + b"\0")


def device_record(state=1200, family=b"K27", serial=42, label=b"Bench", boot=(1, 3), code=(2, 1, 7)):
    r = bytearray(1256)
    struct.pack_into("<IIH", r, 0, 0x11223344, 0x55667788, 0x99AA)
    struct.pack_into("<I", r, 12, 0xCAFEF00D)
    r[16:16 + len(family)] = family
    struct.pack_into("<HH", r, 48, *boot)
    struct.pack_into("<H", r, 84, state)
    struct.pack_into("<iHH", r, 88, serial, 0x0102, 0x0304)
    struct.pack_into("<HHH", r, 160, *code)
    r[168:168 + len(label)] = label
    return bytes(r)


def typed(text):
    """The operator's entry, in its 16 bytes."""
    return text.ljust(16, b"\0")[:16]


def device_seeds():
    write("detect_response_fuzzer", "one-device", typed(b"42\r\n") + device_record())
    write("detect_response_fuzzer", "none", typed(b"42\n"))
    write("detect_response_fuzzer", "short-record", typed(b"42\n") + device_record()[:-1])
    write("detect_response_fuzzer", "states",
          typed(b" +1000") + b"".join(device_record(state=s, serial=s) for s in
                                      (100, 101, 700, 701, 800, 801, 999, 1000, 1001)))
    write("detect_response_fuzzer", "same-serial",
          typed(b"7") + device_record(serial=7, label=b"first") + device_record(serial=7, label=b"second"))
    write("detect_response_fuzzer", "no-eligible",
          typed(b"42") + device_record(family=b"k27") + device_record(state=999))
    # Text fields that fill their room without a terminator.
    write("detect_response_fuzzer", "unterminated",
          typed(b"-1") + device_record(family=b"K" * 32, serial=-1) + device_record(label=b"L" * 1088, serial=-1))


def identity_list(triples):
    return b"".join(struct.pack("<HHH", *t) for t in triples)


def names(*texts):
    return b"".join(t.encode("utf-16-le") + b"\0\0" for t in texts)


def letters(count):
    """A name of `count` characters that shows where it was cut."""
    return "".join(chr(ord("a") + i % 26) if i % 10 else str(i // 10 % 10) for i in range(count))


def units(*texts):
    """Names given as UTF-16 units, which need not be well formed."""
    return b"".join(struct.pack("<%dH" % len(t), *t) + b"\0\0" for t in texts)


def identity_seeds():
    # Two bytes give the list's length in bytes; the names follow it.
    def seed(name, elements, *texts):
        write("identity_list_fuzzer", name, struct.pack("<H", len(elements)) + elements + names(*texts))
    seed("one", identity_list([(1, 5, 0)]), "Operator", "Full")
    seed("zero-wins", identity_list([(1, 5, 0), (2, 0, 0), (1, 6, 0)]), "A", "Full", "B", "Full", "C", "Full")
    seed("none-sufficient", identity_list([(1, 0, 3), (1, 5, 2)]), "Guest", "Read", "Viewer", "View")
    seed("empty", b"")
    seed("not-triples", identity_list([(1, 5, 0)]) + b"\1\0\2\0", "X", "Y")
    seed("wide-names", identity_list([(1, 9, 0)]), "Bedienerin \u00e9\u4e2d", "\uffff")
    # Lines about the size of a small formatting buffer and well past it.
    # Seeds stay a few KiB: the largest seed sets how long the fuzzer's first
    # inputs are, and long ones make it slow (a 200 KiB seed, 40 times). The
    # runs may grow a name to half a million characters; lines of 70,000 and
    # 100,000 characters are the unit tests'.
    seed("long-names", identity_list([(1, 1, 2), (1, 2, 0), (1, 3, 0), (1, 4, 1)]),
         letters(229), "Full", letters(240), "Full", letters(300), letters(243), "", letters(1000))
    # Beyond ASCII: Latin-1, the rest of the 16-bit range, pairs of
    # surrogates, and surrogates without their partner, short and long.
    triples = identity_list([(1, 1, 0), (1, 2, 1), (1, 3, 2), (1, 4, 0), (1, 5, 0)])
    write("identity_list_fuzzer", "foreign-names",
          struct.pack("<H", len(triples)) + triples
          + names("Ing\u00e9nieur \u00e0", "\u20ac \u03a9 \u65e5\u672c", "\U0001F600", "\u4e2d" * 300)
          + units([0xD800, ord("x")], [0xDC00], [ord("y"), 0xDBFF], [0xDE00, 0xD83D])
          + names("\U0001F600" * 300, "\uffff\u0080\u07ff\u0800"))


if __name__ == "__main__":
    image_seeds()
    device_seeds()
    identity_seeds()
