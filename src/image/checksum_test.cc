#include "image/checksum.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "image/byte_order.h"
#include "model/block_crc.h"

namespace {

class ChecksumTest : public testing::Test {
 protected:
  void SetUp() override { BuildChecksumTable(); }
};

TEST_F(ChecksumTest, CatalogueCheckValue) {
  // A block of "123456789" (the CRC's check string), padded to 12 with
  // three zero bytes, then the model's CRC of all twelve.
  const char* digits = "123456789";
  uint8_t block[16] = {};
  std::memcpy(block, digits, 9);
  WriteBig32(block + 12, model::BlockCrc(block, 12));
  EXPECT_EQ(BlockChecksum(block, 4), 0u);
  WriteBig32(block + 12, 0);
  EXPECT_EQ(BlockChecksum(block, 4), model::BlockCrc(block, 12));
}

TEST_F(ChecksumTest, ShortBlocks) {
  EXPECT_EQ(BlockChecksum(nullptr, 0), 0xFFFFFFFFu);
  EXPECT_FALSE(VerifyBlockChecksum(nullptr, 0));
  const uint8_t word[4] = {0x12, 0x34, 0x56, 0x78};
  EXPECT_EQ(BlockChecksum(word, 1), 0x12345678u);
  const uint8_t zero[4] = {};
  EXPECT_TRUE(VerifyBlockChecksum(zero, 4));
  // The length is whole words: a trailing partial word is not read.
  const uint8_t five[5] = {0, 0, 0, 0, 0xFF};
  EXPECT_TRUE(VerifyBlockChecksum(five, 5));
}

std::vector<uint8_t> PatternBlock(size_t words) {
  std::vector<uint8_t> block(words * 4);
  uint32_t x = 0x9E3779B9u;
  for (auto& b : block) {
    x = x * 1664525u + 1013904223u;
    b = static_cast<uint8_t>(x >> 24);
  }
  return block;
}

// 1001 words of pattern reach every row of the table: a wrong row shows
// against the reference.
TEST_F(ChecksumTest, RegenerateVerifiesAndIsIdempotent) {
  for (size_t words : {1u, 2u, 3u, 64u, 1001u}) {
    SCOPED_TRACE(words);
    std::vector<uint8_t> block = PatternBlock(words);
    RegenerateBlockChecksum(block.data(), block.size());
    EXPECT_EQ(BlockChecksum(block.data(), words), 0u);
    EXPECT_EQ(ReadBig32(&block[block.size() - 4]), model::BlockCrc(block.data(), block.size() - 4));
    std::vector<uint8_t> again = block;
    RegenerateBlockChecksum(again.data(), again.size());
    EXPECT_EQ(again, block);
  }
}

TEST_F(ChecksumTest, EverySingleBitFlipIsCaught) {
  std::vector<uint8_t> block = PatternBlock(8);
  RegenerateBlockChecksum(block.data(), block.size());
  for (size_t bit = 0; bit < block.size() * 8; ++bit) {
    block[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
    EXPECT_NE(BlockChecksum(block.data(), 8), 0u) << "bit " << bit;
    block[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
  }
}

TEST_F(ChecksumTest, UnalignedStart) {
  std::vector<uint8_t> block = PatternBlock(50);
  RegenerateBlockChecksum(block.data(), block.size());
  for (size_t offset = 1; offset < 4; ++offset) {
    std::vector<uint8_t> shifted(offset + block.size() + 3, 0xAA);
    std::memcpy(shifted.data() + offset, block.data(), block.size());
    EXPECT_EQ(BlockChecksum(shifted.data() + offset, 50), 0u) << offset;
    RegenerateBlockChecksum(shifted.data() + offset, block.size());
    EXPECT_EQ(0, std::memcmp(shifted.data() + offset, block.data(), block.size()));
  }
}

}  // namespace
