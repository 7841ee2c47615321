#include "k27image/shipped_image.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "image/byte_order.h"
#include "image/checksum.h"
#include "image/inflate.h"
#include "k27image/pack.h"
#include "lib/file_bytes.h"

namespace {

struct Field {
  size_t offset;
  int width;  // bytes: 1, 2 or 4, big-endian
  uint32_t value;
};

uint32_t Read(const uint8_t* block, const Field& f) {
  if (f.width == 1) return block[f.offset];
  if (f.width == 2) return ReadBig16(block + f.offset);
  return ReadBig32(block + f.offset);
}

const uint8_t kTargetName[32] = {'K', '2', '7'};

TEST(ShippedImageTest, CodeHeader) {
  const std::vector<uint8_t> code = BuildShippedCodeBlock();
  ASSERT_EQ(code.size(), 142180u);
  const Field fields[] = {
      {0, 2, 0xC0DE},     {2, 2, 1},           {4, 4, 0x00080000}, {8, 4, 0x000A2B63},
      {12, 4, 0x52D54BE3}, {48, 2, 92},        {50, 1, 1},         {51, 1, 2},
      {52, 4, 0},         {74, 2, 1},          {76, 2, 1},         {78, 2, 5},
      {80, 2, 1},         {82, 2, 1},          {84, 4, 0x00087740}, {88, 4, 93544},
  };
  for (const Field& f : fields) EXPECT_EQ(Read(code.data(), f), f.value) << "offset " << f.offset;
  EXPECT_EQ(std::memcmp(code.data() + 16, kTargetName, 32), 0);
  const uint8_t opaque56[18] = {0x00, 0x08, 0x07, 0xB8, 0x00, 0x00, 0x17, 0x98, 0x00,
                                0x09, 0xE9, 0x34, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
  EXPECT_EQ(std::memcmp(code.data() + 56, opaque56, 18), 0);
}

TEST(ShippedImageTest, ProfileHeader) {
  const std::vector<uint8_t> code = BuildShippedCodeBlock();
  const uint8_t* profile = code.data() + (0x00087740 - 0x00080000);
  const Field fields[] = {
      {0, 2, 0xC0DE},      {2, 2, 3},  {4, 4, 0},  {8, 4, 0x00016D67}, {12, 4, 0x52D54BC8},
      {48, 2, 64},         {50, 1, 1}, {51, 1, 0}, {52, 2, 1},         {54, 2, 1},
      {56, 2, 5},          {58, 2, 5}, {60, 2, 1}, {62, 2, 0x0001},
  };
  for (const Field& f : fields) EXPECT_EQ(Read(profile, f), f.value) << "offset " << f.offset;
  EXPECT_EQ(std::memcmp(profile + 16, kTargetName, 32), 0);
}

TEST(ShippedImageTest, BothChecksumsVerifyAndTheBlockIsAlwaysTheSame) {
  const std::vector<uint8_t> code = BuildShippedCodeBlock();
  BuildChecksumTable();
  EXPECT_TRUE(VerifyBlockChecksum(code.data(), code.size()));
  EXPECT_TRUE(VerifyBlockChecksum(code.data() + 0x7740, 93544));
  EXPECT_EQ(BuildShippedCodeBlock(), code);
}

TEST(ShippedImageTest, ResourceIsTheCommittedOneAndInflatesBack) {
  const std::vector<uint8_t> code = BuildShippedCodeBlock();
  const std::vector<uint8_t> stream = PackCodeBlock(code);
  ASSERT_EQ(stream.size(), 127633u);
  EXPECT_EQ(stream[0], 0x78);
  EXPECT_EQ(stream[1], 0x9C);
  const CodeBlock inflated = InflateImage(stream.data(), static_cast<uint32_t>(stream.size()));
  ASSERT_EQ(inflated.size, 142180u);
  EXPECT_EQ(std::memcmp(inflated.bytes.get(), code.data(), code.size()), 0);

  std::vector<uint8_t> committed;
  std::string error;
  ASSERT_TRUE(ReadFileBytes(K27_SHIPPED_RESOURCE, committed, error)) << error;
  EXPECT_TRUE(committed == stream) << "resources/k27image.zlib differs from what k27image shipped makes";
}

}  // namespace
