#ifndef K27_FUZZ_IMAGE_ORACLE_H_
#define K27_FUZZ_IMAGE_ORACLE_H_

#include <cstddef>
#include <cstdint>
#include <string>

// What the image checks must conclude about a code block, worked out here on
// the model's terms (model/) so that the fuzzer can hold the tool's verdict
// against it.
struct ImageExpectation {
  // The first failed check's message, or null when every check passes.
  const char* message = nullptr;
  // When every check passes: the profile block and the release line.
  uint32_t profile_offset = 0;
  uint32_t profile_length = 0;
  std::string release_line;
};

ImageExpectation ExpectImage(const uint8_t* code, size_t size);

#endif  // K27_FUZZ_IMAGE_ORACLE_H_
