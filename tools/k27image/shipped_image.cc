#include "k27image/shipped_image.h"

#include <cstring>

#include "image/byte_order.h"
#include "image/checksum.h"
#include "model/block_layout.h"

namespace {

using model::kCodeBase;

// The body is pseudo-random bytes with one in eight a zero, about as
// compressible as real code, and ends in a run of erased flash (0xFF). The
// run's length sets how long the compressed stream is; it was chosen to
// give the release's stream length.
constexpr uint32_t kBodySeed = 0x4B323731;  // "K271"
constexpr size_t kErasedTailSize = 9752;

// A 32-bit xorshift generator: portable and fixed, so every host builds the
// same body.
uint8_t NextBodyByte(uint32_t& state) {
  state ^= state << 13;
  state ^= state >> 17;
  state ^= state << 5;
  if (((state >> 8) & 7) == 0) return 0x00;
  return static_cast<uint8_t>(state);
}

void FillBody(uint8_t* begin, uint8_t* end, uint32_t& state) {
  for (uint8_t* p = begin; p < end; ++p) *p = NextBodyByte(state);
}

// The first 52 bytes, laid out alike in both headers.
void WriteCommonHeader(uint8_t* block, uint16_t type, uint32_t start, uint32_t end,
                       const uint8_t (&opaque)[4], uint16_t header_length, uint8_t x_version,
                       uint8_t y_version) {
  WriteBig16(block + model::kMagicAt, 0xC0DE);
  WriteBig16(block + model::kTypeAt, type);
  WriteBig32(block + model::kStartAt, start);
  WriteBig32(block + model::kEndAt, end);
  std::memcpy(block + model::kEndAt + 4, opaque, 4);  // up to the name
  std::memset(block + model::kNameAt, 0, 32);
  std::memcpy(block + model::kNameAt, "K27", 3);
  WriteBig16(block + model::kHeaderLengthAt, header_length);
  block[model::kXVersionAt] = x_version;
  block[model::kYVersionAt] = y_version;
}

void WriteCodeHeader(uint8_t* code) {
  static const uint8_t kOpaque12[4] = {0x52, 0xD5, 0x4B, 0xE3};
  static const uint8_t kOpaque56[18] = {0x00, 0x08, 0x07, 0xB8, 0x00, 0x00, 0x17, 0x98, 0x00,
                                        0x09, 0xE9, 0x34, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
  WriteCommonHeader(code, 1, kCodeBase, kCodeBase + kShippedCodeSize - 1, kOpaque12, model::kCodeHeaderSize, 1, 2);
  WriteBig32(code + model::kTimeStampAt, 0);  // written when a device is programmed
  std::memcpy(code + model::kTimeStampAt + 4, kOpaque56, sizeof kOpaque56);  // up to the branch
  WriteBig16(code + model::kCodeBranchAt, 1);
  WriteBig16(code + model::kCodeVersionAt, 1);
  WriteBig16(code + model::kCodeRevisionAt, 5);
  WriteBig16(code + model::kMinBootBranchAt, 1);
  WriteBig16(code + model::kMinBootVersionAt, 1);
  WriteBig32(code + model::kStoreStartAt, kShippedStoreStart);
  WriteBig32(code + model::kStoreSizeAt, kShippedStoreSize);
}

void WriteProfileHeader(uint8_t* profile) {
  static const uint8_t kOpaque12[4] = {0x52, 0xD5, 0x4B, 0xC8};
  WriteCommonHeader(profile, 3, 0, kShippedStoreSize - 1, kOpaque12, model::kProfileHeaderSize, 1, 0);
  WriteBig16(profile + model::kProfileBranchAt, 1);
  WriteBig16(profile + model::kProfileVersionAt, 1);
  WriteBig16(profile + model::kProfileRevisionAt, 5);
  WriteBig16(profile + model::kFromRevisionAt, 5);
  WriteBig16(profile + model::kProfileNumberAt, 1);
  WriteBig16(profile + model::kProfileNumberAt + 2, 1);  // the last header word
}

}  // namespace

std::vector<uint8_t> BuildShippedCodeBlock() {
  static_assert(kShippedCodeSize % 4 == 0 && kShippedStoreSize % 4 == 0);
  constexpr size_t kStoreOffset = kShippedStoreStart - kCodeBase;
  constexpr size_t kStoreEnd = kStoreOffset + kShippedStoreSize;
  static_assert(kStoreOffset >= model::kCodeHeaderSize && kStoreEnd <= kShippedCodeSize - 4 - kErasedTailSize);

  std::vector<uint8_t> code(kShippedCodeSize);
  uint8_t* const block = code.data();
  uint8_t* const profile = block + kStoreOffset;
  uint8_t* const erased = block + kShippedCodeSize - 4 - kErasedTailSize;

  uint32_t state = kBodySeed;
  WriteCodeHeader(block);
  FillBody(block + model::kCodeHeaderSize, profile, state);
  WriteProfileHeader(profile);
  FillBody(profile + model::kProfileHeaderSize, profile + kShippedStoreSize - 4, state);
  FillBody(profile + kShippedStoreSize, erased, state);
  std::memset(erased, 0xFF, kErasedTailSize);

  // The profile lies inside the code block: its checksum first, so that the
  // code checksum covers it.
  BuildChecksumTable();
  RegenerateBlockChecksum(profile, kShippedStoreSize);
  RegenerateBlockChecksum(block, kShippedCodeSize);
  return code;
}
