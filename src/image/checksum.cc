#include "image/checksum.h"

#include <bit>

#include "image/byte_order.h"

static_assert(std::endian::native == std::endian::little,
              "the checksum loads words in little-endian host order");

namespace {
uint32_t g_table[256];
}

void BuildChecksumTable() {
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t crc = i << 24;
    for (int bit = 0; bit < 8; ++bit)
      crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    // Stored byte-swapped: the checksum keeps its register that way.
    g_table[i] = ByteSwap32(crc);
  }
}

uint32_t BlockChecksum(const uint8_t* block, size_t words) {
  if (words == 0) return 0xFFFFFFFFu;
  // The register is kept byte-swapped, so on this little-endian host each
  // word is XORed in as loaded and the table index is the low byte.
  uint32_t state = ~LoadHost32(block);
  for (size_t i = 1; i < words; ++i) {
    for (int step = 0; step < 4; ++step) state = (state >> 8) ^ g_table[state & 0xFF];
    state ^= LoadHost32(block + 4 * i);
  }
  return ByteSwap32(~state);
}

bool VerifyBlockChecksum(const uint8_t* block, size_t length) {
  return BlockChecksum(block, length / 4) == 0;
}

void RegenerateBlockChecksum(uint8_t* block, size_t length) {
  uint8_t* last = block + length - 4;
  WriteBig32(last, 0);
  uint32_t checksum = BlockChecksum(block, length / 4);
  WriteBig32(last, checksum);
}
