#ifndef K27_MODEL_BLOCK_LAYOUT_H_
#define K27_MODEL_BLOCK_LAYOUT_H_

// The code block and the profile block inside it, as the recipes, the
// oracles and the tests touch them: big-endian fields at fixed offsets, the
// profile block placed by the code header's store area.

#include <cstddef>
#include <cstdint>

namespace model {

// The device address of the code block's first byte.
constexpr uint32_t kCodeBase = 0x80000;
constexpr size_t kCodeHeaderSize = 92;
constexpr size_t kProfileHeaderSize = 64;

// Both headers: magic (16-bit, 0xC0DE), block type (16-bit: 1 code, 3
// profile), start and end address (32-bit, the end inclusive), the target
// name (NUL-terminated), the header's length (16-bit), its versions X and Y
// (8-bit each).
constexpr size_t kMagicAt = 0, kTypeAt = 2, kStartAt = 4, kEndAt = 8, kNameAt = 16, kHeaderLengthAt = 48,
                 kXVersionAt = 50, kYVersionAt = 51;
// The code header: the time stamp (32-bit), branch, version and revision,
// the lowest boot branch and version it runs on (16-bit), the store area's
// device address and size (32-bit).
constexpr size_t kTimeStampAt = 52, kCodeBranchAt = 74, kCodeVersionAt = 76, kCodeRevisionAt = 78,
                 kMinBootBranchAt = 80, kMinBootVersionAt = 82, kStoreStartAt = 84, kStoreSizeAt = 88;
// The profile header (16-bit each).
constexpr size_t kProfileBranchAt = 52, kProfileVersionAt = 54, kProfileRevisionAt = 56, kFromRevisionAt = 58,
                 kProfileNumberAt = 60;

uint32_t GetBig(const uint8_t* p, size_t width);
void PutBig(uint8_t* p, size_t width, uint32_t value);

// Where the code header places the profile block.
enum class ProfilePlace {
  kInside,     // the whole store area lies inside the code block
  kNoHeader,   // the block is shorter than the code header
  kBelowBase,  // the store area starts below the code block
  kPastEnd,    // it does not end inside the code block
};

struct ProfileBlock {
  ProfilePlace place;
  size_t offset;  // from the code block's start (when inside)
  size_t length;
};

ProfileBlock FindProfile(const uint8_t* code, size_t size);

}  // namespace model

#endif  // K27_MODEL_BLOCK_LAYOUT_H_
