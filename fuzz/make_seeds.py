#!/usr/bin/env python3
"""Writes the small seed inputs of the fuzz targets under fuzz/corpus/.
The shipped image is a seed too (a link to resources/k27image.zlib); the
rest are small so that the fuzzers start from quick runs. Run again only to
change the seeds; inputs kept for faults found are not written here."""

import os
import random
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "corpus")


def bzip2_crc(data):
    crc = 0xFFFFFFFF
    for byte in data:
        crc ^= byte << 24
        for _ in range(8):
            crc = ((crc << 1) ^ 0x04C11DB7) if crc & 0x80000000 else crc << 1
            crc &= 0xFFFFFFFF
    return crc ^ 0xFFFFFFFF


def seal(block):
    """Stores the block's checksum in its last word."""
    block[-4:] = struct.pack(">I", bzip2_crc(bytes(block[:-4])))


def small_image(code_size=4096, store_offset=1024, store_size=512, rng=None):
    """A code block that passes every check, small enough to run fast:
    random bytes in the body keep its stream above the 1024-byte minimum."""
    rng = rng or random.Random(27)
    code = bytearray(rng.getrandbits(8) for _ in range(1400)) + bytearray(code_size - 1400)
    code[0:92] = bytes(92)
    struct.pack_into(">HHII", code, 0, 0xC0DE, 1, 0x80000, 0x80000 + code_size - 1)
    code[16:20] = b"K27\0"
    struct.pack_into(">HBB", code, 48, 92, 1, 2)
    struct.pack_into(">HHHHHII", code, 74, 1, 1, 5, 1, 1, 0x80000 + store_offset, store_size)
    profile = bytearray(code[store_offset:store_offset + store_size])
    profile[0:64] = bytes(64)
    struct.pack_into(">HHII", profile, 0, 0xC0DE, 3, 0, store_size - 1)
    profile[16:20] = b"K27\0"
    struct.pack_into(">HBBHHHHHH", profile, 48, 64, 1, 0, 1, 1, 5, 5, 1, 1)
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
    # A stream the decompressor rejects: its Adler-32 is wrong.
    bad = bytearray(zlib.compress(small_image(), 9))
    bad[-1] ^= 1
    write("image_fuzzer", "bad-adler.zlib", bytes(bad))


if __name__ == "__main__":
    image_seeds()
