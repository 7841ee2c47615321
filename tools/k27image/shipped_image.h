#ifndef K27_K27IMAGE_SHIPPED_IMAGE_H_
#define K27_K27IMAGE_SHIPPED_IMAGE_H_

#include <cstddef>
#include <cstdint>
#include <vector>

// The release the tool ships: release 1.1.5, profile 1. There is no real
// firmware behind it, so its bodies are synthetic; its headers, sizes and
// checksums are those of the release.

// The code block's size and where its store area (the profile block) lies.
constexpr size_t kShippedCodeSize = 142180;
constexpr uint32_t kShippedStoreStart = 0x00087740;
constexpr uint32_t kShippedStoreSize = 93544;

// The code block, byte for byte the same on every call and every host:
// both headers, a deterministic body, the profile checksum and then the
// code checksum valid.
std::vector<uint8_t> BuildShippedCodeBlock();

#endif  // K27_K27IMAGE_SHIPPED_IMAGE_H_
