#ifndef K27_IMAGE_CHECKSUM_H_
#define K27_IMAGE_CHECKSUM_H_

#include <cstddef>
#include <cstdint>

// The block checksum: CRC-32/BZIP2 of a block less its last word, stored
// big-endian in that last word. Blocks are whole 32-bit words at any address.

// Fills the process's checksum table. Runs once, before any checksum.
void BuildChecksumTable();

// Over `words` 32-bit words: 0xFFFFFFFF for none; otherwise the CRC of all
// bytes but the last four, XOR the last word read big-endian. Zero exactly
// when the last word holds the checksum of the bytes before it.
uint32_t BlockChecksum(const uint8_t* block, size_t words);

// True when BlockChecksum over length / 4 words is zero.
bool VerifyBlockChecksum(const uint8_t* block, size_t length);

// Clears the last word, computes the checksum of the rest and stores it there
// big-endian. The caller verifies the result.
void RegenerateBlockChecksum(uint8_t* block, size_t length);

#endif  // K27_IMAGE_CHECKSUM_H_
