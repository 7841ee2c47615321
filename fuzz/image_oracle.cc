#include "image_oracle.h"

#include <cstdio>

namespace {

uint32_t Big16(const uint8_t* p) { return (uint32_t{p[0]} << 8) | p[1]; }
uint32_t Big32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

struct CrcTable {
  uint32_t entry[256];
  CrcTable() {
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i << 24;
      for (int b = 0; b < 8; ++b) c = (c & 0x80000000u) ? (c << 1) ^ 0x04C11DB7u : c << 1;
      entry[i] = c;
    }
  }
};

// A block of whole words whose last word holds, most significant byte
// first, the checksum of the bytes before it. An empty block never does.
bool BlockVerifies(const uint8_t* block, size_t length) {
  if (length < 4) return false;
  return ReferenceBlockCrc(block, length - 4) == Big32(block + length - 4);
}

bool NamesK27(const uint8_t* header) {
  return header[16] == 'K' && header[17] == '2' && header[18] == '7' && header[19] == 0;
}

ImageExpectation Fails(const char* message) {
  ImageExpectation e;
  e.message = message;
  return e;
}

}  // namespace

uint32_t ReferenceBlockCrc(const uint8_t* bytes, size_t length) {
  static const CrcTable table;
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < length; ++i) crc = (crc << 8) ^ table.entry[(crc >> 24) ^ bytes[i]];
  return ~crc;
}

ImageExpectation ExpectImage(const uint8_t* code, size_t size) {
  const uint64_t base = 0x80000;
  if (size % 4) return Fails("CODE BLOCK SIZE NOT A MULTIPLE OF 4");
  if (!BlockVerifies(code, size)) return Fails("CODE BLOCK CRC CHECK FAILED");
  if (Big16(code) != 0xC0DE) return Fails("BAD CODE BLOCK MAGIC");
  // A block shorter than its own header is no code block.
  if (Big16(code + 2) != 1 || size < 92) return Fails("NOT A CODE BLOCK");
  if (!NamesK27(code)) return Fails("NOT K27 CODE");
  if (Big32(code + 4) != base) return Fails("CODE BLOCK START FIELD INCORRECT");
  if (Big32(code + 8) != base + size - 1) return Fails("CODE BLOCK END FIELD INCORRECT");
  if (code[50] != 1) return Fails("UNKNOWN CODE HEADER X VERSION");
  if (code[51] != 2) return Fails("UNKNOWN CODE HEADER Y VERSION");
  const uint64_t store_start = Big32(code + 84);
  const uint64_t store_size = Big32(code + 88);
  if (store_start < base) return Fails("STORE START FIELD INCORRECT");
  if (store_start + store_size > base + size) return Fails("STORE SIZE FIELD INCORRECT");

  const uint8_t* profile = code + (store_start - base);
  if (store_size % 4) return Fails("PROFILE SIZE NOT A MULTIPLE OF 4");
  if (!BlockVerifies(profile, store_size)) return Fails("PROFILE CRC CHECK FAILED");
  if (Big16(profile) != 0xC0DE) return Fails("BAD BLOCK MAGIC");
  // Likewise a store area shorter than the profile header.
  if (Big16(profile + 2) != 3 || store_size < 64) return Fails("NOT A PROFILE BLOCK");
  if (!NamesK27(profile)) return Fails("NOT K27 PROFILE");
  if (Big32(profile + 4) != 0) return Fails("PROFILE BLOCK START FIELD INCORRECT");
  if (Big32(profile + 8) != store_size - 1) return Fails("PROFILE BLOCK END FIELD INCORRECT");
  if (profile[50] != 1) return Fails("UNKNOWN PROFILE HEADER X VERSION");
  if (profile[51] != 0) return Fails("UNKNOWN PROFILE HEADER Y VERSION");
  if (Big16(profile + 52) != Big16(code + 74)) return Fails("PROFILE/CODE BRANCH MISMATCH");
  if (Big16(profile + 54) != Big16(code + 76)) return Fails("PROFILE/CODE VERSION MISMATCH");
  if (Big16(profile + 56) != Big16(code + 78)) return Fails("PROFILE/CODE REVISION MISMATCH");
  if (Big16(profile + 58) > Big16(code + 78)) return Fails("BAD PROFILE FROM REVISION");

  ImageExpectation e;
  e.profile_offset = static_cast<uint32_t>(store_start - base);
  e.profile_length = static_cast<uint32_t>(store_size);
  char line[96];
  snprintf(line, sizeof line, "Ready to program K27 firmware release %u.%u.%u(%u)\n", Big16(code + 74),
           Big16(code + 76), Big16(code + 78), Big16(profile + 60));
  e.release_line = line;
  return e;
}
