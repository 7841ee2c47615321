#ifndef K27_MODEL_BLOCK_CRC_H_
#define K27_MODEL_BLOCK_CRC_H_

// The blocks' checksum, written here again bit by bit and apart from the
// tool's table-driven one: CRC-32/BZIP2 (most significant bit first,
// polynomial 0x04C11DB7, all ones in and out), stored big-endian in the
// block's last word. What checks the tool must not share its code.

#include <cstddef>
#include <cstdint>

namespace model {

uint32_t BlockCrc(const uint8_t* data, size_t size);

// The checksum of the nine bytes "123456789", as CRC-32/BZIP2 is published.
constexpr uint32_t kCrcCheckValue = 0xFC891918;

// Stores in the last four bytes of the block the checksum of those before.
void SealBlock(uint8_t* block, size_t size);

// The block's last word holds the checksum of the bytes before it; a block
// shorter than a word never does.
bool BlockVerifies(const uint8_t* block, size_t size);

// zlib's Adler-32 (Crypto++'s).
uint32_t Adler32(const uint8_t* data, size_t size);

}  // namespace model

#endif  // K27_MODEL_BLOCK_CRC_H_
