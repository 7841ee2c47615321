#include "model/block_crc.h"

#include <cryptopp/adler32.h>

#include "model/block_layout.h"

namespace model {

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
  PutBig(block + size - 4, 4, BlockCrc(block, size - 4));
}

bool BlockVerifies(const uint8_t* block, size_t size) {
  return size >= 4 && BlockCrc(block, size - 4) == GetBig(block + size - 4, 4);
}

uint32_t Adler32(const uint8_t* data, size_t size) {
  CryptoPP::Adler32 adler;
  adler.Update(data, size);
  uint8_t digest[4];
  adler.Final(digest);
  return GetBig(digest, 4);
}

}  // namespace model
