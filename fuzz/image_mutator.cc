#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <random>
#include <vector>

#include "model/block_crc.h"
#include "model/block_layout.h"

extern "C" size_t LLVMFuzzerMutate(uint8_t* data, size_t size, size_t max_size);

namespace {

// Larger blocks are left to the byte-level mutations.
constexpr size_t kLargestBlock = 1u << 20;
constexpr uint32_t kBase = model::kCodeBase;

struct Field {
  uint32_t offset;
  uint32_t width;
};

const Field kCodeFields[] = {
    {model::kMagicAt, 2},        {model::kTypeAt, 2},        {model::kStartAt, 4},       {model::kEndAt, 4},
    {model::kNameAt, 4},         {model::kXVersionAt, 1},    {model::kYVersionAt, 1},    {model::kCodeBranchAt, 2},
    {model::kCodeVersionAt, 2},  {model::kCodeRevisionAt, 2}, {model::kStoreStartAt, 4}, {model::kStoreSizeAt, 4}};
const Field kProfileFields[] = {
    {model::kMagicAt, 2},           {model::kTypeAt, 2},           {model::kStartAt, 4},
    {model::kEndAt, 4},             {model::kNameAt, 4},           {model::kXVersionAt, 1},
    {model::kYVersionAt, 1},        {model::kProfileBranchAt, 2},  {model::kProfileVersionAt, 2},
    {model::kProfileRevisionAt, 2}, {model::kFromRevisionAt, 2},   {model::kProfileNumberAt, 2}};

class Mutator {
 public:
  Mutator(std::vector<uint8_t>& block, unsigned seed) : b_(block), rng_(seed) {}

  unsigned Below(unsigned n) { return n ? static_cast<unsigned>(rng_() % n) : 0; }

  bool HasHeader() { return b_.size() >= model::kCodeHeaderSize; }
  uint32_t StoreStart() { return HasHeader() ? model::GetBig(&b_[model::kStoreStartAt], 4) : 0; }
  uint32_t StoreSize() { return HasHeader() ? model::GetBig(&b_[model::kStoreSizeAt], 4) : 0; }

  // The store area's offset in the block when the whole of it lies inside.
  bool ProfileAt(size_t& offset, size_t& length) {
    const model::ProfileBlock profile = model::FindProfile(b_.data(), b_.size());
    offset = profile.offset;
    length = profile.length;
    return profile.place == model::ProfilePlace::kInside;
  }

  uint32_t Interesting(uint32_t current, uint32_t width) {
    const uint32_t size = static_cast<uint32_t>(b_.size());
    const uint32_t max = width == 4 ? 0xFFFFFFFFu : (1u << (8 * width)) - 1;
    switch (Below(16)) {
      case 0: return 0;
      case 1: return 1;
      case 2: return 2 + Below(3);
      case 3: return max;
      case 4: return max - 1;
      case 5: return (max >> 1) + Below(2);
      case 6: return current + 1;
      case 7: return current - 1;
      case 8: return 0xC0DE;
      case 9: return kBase + Below(2) * 4 - Below(2) * 4;
      case 10: return kBase + size - Below(3);
      case 11: return size - Below(3);
      case 12: return current ^ (1u << Below(8 * width));
      case 13: return 0x0101;
      default: return static_cast<uint32_t>(rng_());
    }
  }

  void SetField(size_t at, const Field* fields, size_t count, size_t room) {
    const Field& f = fields[Below(static_cast<unsigned>(count))];
    if (f.offset + f.width > room || at + f.offset + f.width > b_.size()) return;
    uint8_t* p = &b_[at + f.offset];
    if (f.offset == model::kNameAt) {
      static const char* const kNames[] = {"K27", "k27", "K2", "K27X", "K 27", ""};
      const char* name = kNames[Below(6)];
      std::memset(p, 0, 4);
      std::memcpy(p, name, std::strlen(name));
      // What follows the terminator must not matter.
      if (Below(2) && at + model::kNameAt + 32 <= b_.size()) p[4 + Below(28)] = static_cast<uint8_t>(rng_());
      return;
    }
    uint32_t width = f.width;
    model::PutBig(p, width,
                  Interesting(model::GetBig(p, width), width) & (width == 4 ? 0xFFFFFFFFu : (1u << (8 * width)) - 1));
  }

  // Moves or resizes the store area, carrying the profile block along.
  void Restore() {
    if (!HasHeader()) return;
    size_t old_offset = 0, old_length = 0;
    const bool had = ProfileAt(old_offset, old_length);
    std::vector<uint8_t> old;
    if (had) old.assign(b_.begin() + old_offset, b_.begin() + old_offset + old_length);
    const uint32_t size = static_cast<uint32_t>(b_.size());
    const uint32_t header = model::kCodeHeaderSize;
    uint32_t start = StoreStart(), length = StoreSize();
    switch (Below(4)) {
      case 0: {
        static const uint32_t kLengths[] = {0, 4, 8, 60, 64, 68};
        length = kLengths[Below(6)];
        break;
      }
      case 1:
        length = size - (start - kBase) + Below(3) * 4 - 4;
        break;
      case 2:
        start = kBase + header + Below(size > header ? size - header : 1);
        break;
      default:
        start = Below(2) ? 0x7FFFC + Below(8) : 0xFFFFFFFFu - Below(8);
        length = Below(2) ? length : 0xFFFFFFFFu - Below(8);
        break;
    }
    model::PutBig(&b_[model::kStoreStartAt], 4, start);
    model::PutBig(&b_[model::kStoreSizeAt], 4, length);
    size_t offset = 0, room = 0;
    if (!had || !ProfileAt(offset, room)) return;
    // The profile header, kept whole where it fits, its end field set anew.
    const size_t keep = std::min(old.size(), room);
    if (keep) std::memcpy(b_.data() + offset, old.data(), keep);
    if (room >= 12) model::PutBig(&b_[offset + model::kEndAt], 4, static_cast<uint32_t>(room - 1));
  }

  void Resize() {
    size_t size = b_.size();
    switch (Below(3)) {
      case 0: size += 1 + Below(16); break;
      case 1: size -= std::min<size_t>(size, 1 + Below(16)); break;
      default: size = 1025 + Below(static_cast<unsigned>(size)); break;
    }
    if (size > kLargestBlock) return;
    b_.resize(size, static_cast<uint8_t>(rng_()));
    if (Below(4) && b_.size() >= 12)
      model::PutBig(&b_[model::kEndAt], 4, static_cast<uint32_t>(kBase + b_.size() - 1));
  }

  void Mutate() {
    for (unsigned steps = 1 + Below(3); steps-- > 0;) {
      size_t offset = 0, length = 0;
      switch (Below(6)) {
        case 0:
        case 1:
          SetField(0, kCodeFields, std::size(kCodeFields), b_.size());
          break;
        case 2:
          if (ProfileAt(offset, length)) SetField(offset, kProfileFields, std::size(kProfileFields), length);
          break;
        case 3:
          Restore();
          break;
        case 4:
          Resize();
          break;
        default: {
          // libFuzzer's own mutations, over one of the headers.
          size_t at = 0, room = std::min<size_t>(b_.size(), 96);
          if (Below(2) && ProfileAt(offset, length))
            at = offset, room = std::min<size_t>(length, model::kProfileHeaderSize);
          if (room) LLVMFuzzerMutate(&b_[at], room, room);
          break;
        }
      }
    }
    // Usually the checksums are mended, the profile's first as it lies
    // inside the code block.
    size_t offset = 0, length = 0;
    if (Below(16) && ProfileAt(offset, length) && length % 4 == 0 && length >= 4)
      model::SealBlock(&b_[offset], length);
    if (Below(16) && b_.size() % 4 == 0) model::SealBlock(b_.data(), b_.size());
  }

 private:
  std::vector<uint8_t>& b_;
  std::mt19937 rng_;
};

}  // namespace

// libFuzzer's hook, here rather than in the target so that the target also
// builds without zlib (the Windows replay). It mutates a compressed image
// where it matters: mostly it inflates the stream, changes header fields, the
// store area's place and size or the block's length, mends the checksums
// (usually) and compresses the block again, so that the later checks are
// reached; now and then it changes the compressed bytes themselves, for the
// decompressor's own checks.
extern "C" size_t LLVMFuzzerCustomMutator(uint8_t* data, size_t size, size_t max_size, unsigned seed) {
  // Kept from call to call: a fresh megabyte each time costs more than the
  // rest of the run.
  static std::vector<uint8_t> room(kLargestBlock);
  static std::vector<uint8_t> out;
  uLongf inflated = room.size();
  std::mt19937 pick(seed ^ 0x9E3779B9u);
  if (pick() % 8 == 0 || uncompress(room.data(), &inflated, data, size) != Z_OK)
    return LLVMFuzzerMutate(data, size, max_size);
  std::vector<uint8_t> block(room.begin(), room.begin() + inflated);
  Mutator mutator(block, seed);
  mutator.Mutate();

  // Now and then stored rather than compressed (it then inflates to less
  // than it holds), or followed by bytes past the stream's end.
  const int level = pick() % 32 == 0 ? 0 : 1;
  uLongf packed = compressBound(block.size());
  if (out.size() < packed + 64) out.resize(packed + 64);
  if (compress2(out.data(), &packed, block.data(), block.size(), level) != Z_OK)
    return LLVMFuzzerMutate(data, size, max_size);
  if (pick() % 32 == 0) {
    unsigned extra = 1 + pick() % 64;
    for (unsigned i = 0; i < extra; ++i) out[packed++] = static_cast<uint8_t>(pick());
  }
  if (packed > max_size) return LLVMFuzzerMutate(data, size, max_size);
  std::memcpy(data, out.data(), packed);
  return packed;
}
