#include "image_mutator.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <random>
#include <vector>

#include "image_oracle.h"

extern "C" size_t LLVMFuzzerMutate(uint8_t* data, size_t size, size_t max_size);

namespace {

// Larger blocks are left to the byte-level mutations.
constexpr size_t kLargestBlock = 1u << 20;
constexpr uint32_t kBase = 0x80000;

struct Field {
  uint32_t offset;
  uint32_t width;
};

const Field kCodeFields[] = {{0, 2},  {2, 2},  {4, 4},  {8, 4},  {16, 4}, {50, 1},
                             {51, 1}, {74, 2}, {76, 2}, {78, 2}, {84, 4}, {88, 4}};
const Field kProfileFields[] = {{0, 2},  {2, 2},  {4, 4},  {8, 4},  {16, 4}, {50, 1},
                                {51, 1}, {52, 2}, {54, 2}, {56, 2}, {58, 2}, {60, 2}};

uint32_t GetBig(const uint8_t* p, uint32_t width) {
  uint32_t v = 0;
  for (uint32_t i = 0; i < width; ++i) v = (v << 8) | p[i];
  return v;
}

void PutBig(uint8_t* p, uint32_t width, uint32_t v) {
  for (uint32_t i = width; i-- > 0; v >>= 8) p[i] = static_cast<uint8_t>(v);
}

class Mutator {
 public:
  Mutator(std::vector<uint8_t>& block, unsigned seed) : b_(block), rng_(seed) {}

  unsigned Below(unsigned n) { return n ? static_cast<unsigned>(rng_() % n) : 0; }

  uint32_t StoreStart() { return b_.size() >= 92 ? GetBig(&b_[84], 4) : 0; }
  uint32_t StoreSize() { return b_.size() >= 92 ? GetBig(&b_[88], 4) : 0; }

  // The store area's offset in the block when the whole of it lies inside.
  bool ProfileAt(size_t& offset, size_t& length) {
    if (b_.size() < 92 || StoreStart() < kBase) return false;
    offset = StoreStart() - kBase;
    length = StoreSize();
    return offset <= b_.size() && length <= b_.size() - offset;
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
    if (f.offset == 16) {
      static const char* const kNames[] = {"K27", "k27", "K2", "K27X", "K 27", ""};
      const char* name = kNames[Below(6)];
      std::memset(p, 0, 4);
      std::memcpy(p, name, std::strlen(name));
      // What follows the terminator must not matter.
      if (Below(2) && at + 48 <= b_.size()) p[4 + Below(28)] = static_cast<uint8_t>(rng_());
      return;
    }
    uint32_t width = f.width;
    PutBig(p, width, Interesting(GetBig(p, width), width) & (width == 4 ? 0xFFFFFFFFu : (1u << (8 * width)) - 1));
  }

  // Moves or resizes the store area, carrying the profile block along.
  void Restore() {
    if (b_.size() < 92) return;
    size_t old_offset = 0, old_length = 0;
    const bool had = ProfileAt(old_offset, old_length);
    std::vector<uint8_t> old;
    if (had) old.assign(b_.begin() + old_offset, b_.begin() + old_offset + old_length);
    const uint32_t size = static_cast<uint32_t>(b_.size());
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
        start = kBase + 92 + Below(size > 92 ? size - 92 : 1);
        break;
      default:
        start = Below(2) ? 0x7FFFC + Below(8) : 0xFFFFFFFFu - Below(8);
        length = Below(2) ? length : 0xFFFFFFFFu - Below(8);
        break;
    }
    PutBig(&b_[84], 4, start);
    PutBig(&b_[88], 4, length);
    size_t offset = 0, room = 0;
    if (!had || !ProfileAt(offset, room)) return;
    // The profile header, kept whole where it fits, its end field set anew.
    const size_t keep = std::min(old.size(), room);
    if (keep) std::memcpy(b_.data() + offset, old.data(), keep);
    if (room >= 12) PutBig(&b_[offset + 8], 4, static_cast<uint32_t>(room - 1));
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
    if (Below(4) && b_.size() >= 12) PutBig(&b_[8], 4, static_cast<uint32_t>(kBase + b_.size() - 1));
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
          if (Below(2) && ProfileAt(offset, length)) at = offset, room = std::min<size_t>(length, 64);
          if (room) LLVMFuzzerMutate(&b_[at], room, room);
          break;
        }
      }
    }
    // Usually the checksums are mended, the profile's first as it lies
    // inside the code block.
    size_t offset = 0, length = 0;
    if (Below(16) && ProfileAt(offset, length) && length % 4 == 0 && length >= 4)
      PutBig(&b_[offset + length - 4], 4, ReferenceBlockCrc(&b_[offset], length - 4));
    if (Below(16) && b_.size() % 4 == 0 && b_.size() >= 4)
      PutBig(&b_[b_.size() - 4], 4, ReferenceBlockCrc(b_.data(), b_.size() - 4));
  }

 private:
  std::vector<uint8_t>& b_;
  std::mt19937 rng_;
};

}  // namespace

size_t MutateCompressedImage(uint8_t* data, size_t size, size_t max_size, unsigned seed) {
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

// libFuzzer's hook, here rather than in the target so that the target also
// builds without zlib (the Windows replay).
extern "C" size_t LLVMFuzzerCustomMutator(uint8_t* data, size_t size, size_t max_size, unsigned seed) {
  return MutateCompressedImage(data, size, max_size, seed);
}
