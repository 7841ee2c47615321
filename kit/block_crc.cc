#include "block_crc.h"

uint32_t BlockCrc(const uint8_t* data, size_t size) {
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < size; ++i) {
    crc ^= static_cast<uint32_t>(data[i]) << 24;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
  }
  return ~crc;
}

void SealBlock(uint8_t* block, size_t size) {
  if (size < 4) return;
  const uint32_t crc = BlockCrc(block, size - 4);
  for (int i = 0; i < 4; ++i) block[size - 4 + i] = static_cast<uint8_t>(crc >> (24 - 8 * i));
}

uint32_t Adler32(const uint8_t* data, size_t size) {
  uint32_t a = 1, b = 0;
  for (size_t i = 0; i < size; ++i) {
    a = (a + data[i]) % 65521;
    b = (b + a) % 65521;
  }
  return (b << 16) | a;
}
