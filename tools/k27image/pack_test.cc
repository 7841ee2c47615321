#include "k27image/pack.h"

#include <gtest/gtest.h>

#include <cstring>

#include "image/inflate.h"

namespace {

TEST(PackTest, SizesTheToolWouldRefuse) {
  const struct {
    size_t resource, code;
    bool refused;
  } rows[] = {
      {1023, 5000, true},  {1024, 5000, false}, {4999, 5000, false},
      {5000, 5000, true},  {5001, 5000, true},
  };
  for (const auto& row : rows)
    EXPECT_EQ(PackedSizeProblem(row.resource, row.code) != nullptr, row.refused) << row.resource;
}

TEST(PackTest, OneStreamThatInflatesBack) {
  std::vector<uint8_t> code(20000);
  for (size_t i = 0; i < code.size(); ++i) code[i] = static_cast<uint8_t>((i * i) >> 3);
  const std::vector<uint8_t> stream = PackCodeBlock(code);
  ASSERT_GE(stream.size(), 2u);
  EXPECT_EQ(stream[0], 0x78);
  EXPECT_EQ(stream[1], 0x9C);
  // InflateImage refuses anything after the stream, so this also shows
  // there is exactly one.
  const CodeBlock block = InflateImage(stream.data(), static_cast<uint32_t>(stream.size()));
  ASSERT_EQ(block.size, code.size());
  EXPECT_EQ(std::memcmp(block.bytes.get(), code.data(), code.size()), 0);
}

}  // namespace
