#include "model/block_layout.h"

namespace model {

uint32_t GetBig(const uint8_t* p, size_t width) {
  uint32_t v = 0;
  for (size_t i = 0; i < width; ++i) v = (v << 8) | p[i];
  return v;
}

void PutBig(uint8_t* p, size_t width, uint32_t value) {
  for (size_t i = width; i-- > 0; value >>= 8) p[i] = static_cast<uint8_t>(value);
}

ProfileBlock FindProfile(const uint8_t* code, size_t size) {
  if (size < kCodeHeaderSize) return {ProfilePlace::kNoHeader, 0, 0};
  const uint32_t start = GetBig(code + kStoreStartAt, 4);
  const uint32_t length = GetBig(code + kStoreSizeAt, 4);
  if (start < kCodeBase) return {ProfilePlace::kBelowBase, 0, length};
  const size_t offset = start - kCodeBase;
  if (offset > size || length > size - offset) return {ProfilePlace::kPastEnd, offset, length};
  return {ProfilePlace::kInside, offset, length};
}

}  // namespace model
