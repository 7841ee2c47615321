#include "lib/sha256.h"

#include <cryptopp/sha.h>

std::string Sha256Hex(const uint8_t* data, size_t size) {
  CryptoPP::SHA256 hash;
  uint8_t digest[CryptoPP::SHA256::DIGESTSIZE];
  hash.CalculateDigest(digest, data, size);
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (uint8_t b : digest) {
    hex += kDigits[b >> 4];
    hex += kDigits[b & 15];
  }
  return hex;
}
