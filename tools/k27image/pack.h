#ifndef K27_K27IMAGE_PACK_H_
#define K27_K27IMAGE_PACK_H_

#include <cstddef>
#include <cstdint>
#include <vector>

// Compresses a code block into the tool's image resource: one zlib stream
// (default level, 32 KB window, so it starts 0x78 0x9C) and nothing after it.
std::vector<uint8_t> PackCodeBlock(const std::vector<uint8_t>& code);

// Why a resource of this size, made from a code block of this size, would
// not be accepted by the tool; nullptr when it would. The tool refuses a
// resource below 1024 bytes and one that does not expand.
const char* PackedSizeProblem(size_t resource_size, size_t code_size);

#endif  // K27_K27IMAGE_PACK_H_
