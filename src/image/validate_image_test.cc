#include "image/validate_image.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "image/checksum.h"
#include "k27image/shipped_image.h"
#include "model/block_crc.h"
#include "model/block_layout.h"
#include "support/run_to_exit.h"

namespace {

using Block = std::vector<uint8_t>;

// Where the shipped profile block lies inside the shipped code block.
constexpr uint32_t kShippedStoreOffset = 0x7740;
static_assert(kShippedStoreStart == model::kCodeBase + kShippedStoreOffset);

uint32_t StoreOffset(const Block& code) { return model::GetBig(&code[model::kStoreStartAt], 4) - model::kCodeBase; }
uint32_t StoreSize(const Block& code) { return model::GetBig(&code[model::kStoreSizeAt], 4); }
uint8_t* Profile(Block& code) { return code.data() + StoreOffset(code); }

// Which checksums a mutation restores, so that each check is reached for
// real: the profile's first (it lies inside the code block), then the code
// block's.
enum Seal { kSealNone, kSealCode, kSealBoth };

void Apply(Block& code, Seal seal) {
  if (seal == kSealBoth) model::SealBlock(Profile(code), StoreSize(code));
  if (seal != kSealNone) model::SealBlock(code.data(), code.size());
}

using Mutation = std::function<void(Block&)>;

// A big-endian field of the code header, or of the profile's.
template <size_t width, bool in_profile>
Mutation Field(uint32_t offset, uint32_t value) {
  return [=](Block& c) { model::PutBig((in_profile ? Profile(c) : c.data()) + offset, width, value); };
}
constexpr auto Code8 = &Field<1, false>, Code16 = &Field<2, false>, Code32 = &Field<4, false>;
constexpr auto Profile8 = &Field<1, true>, Profile16 = &Field<2, true>, Profile32 = &Field<4, true>;
Mutation Both(Mutation first, Mutation second) {
  return [=](Block& c) {
    first(c);
    second(c);
  };
}
Mutation CodeName(const char* name) {
  return [=](Block& c) { std::memcpy(&c[model::kNameAt], name, std::strlen(name) + 1); };
}
Mutation ProfileName(const char* name) {
  return [=](Block& c) { std::memcpy(Profile(c) + model::kNameAt, name, std::strlen(name) + 1); };
}
// A store area of `size` bytes at the shipped start whose own checksum
// verifies (for sizes of at least a word).
Mutation ShortStore(uint32_t size) {
  return [=](Block& c) {
    model::PutBig(&c[model::kStoreSizeAt], 4, size);
    if (size >= 4) model::SealBlock(Profile(c), size);
  };
}

class ValidateImageTest : public testing::Test {
 protected:
  static void SetUpTestSuite() { BuildChecksumTable(); }
  Block Shipped() { return BuildShippedCodeBlock(); }
};

TEST_F(ValidateImageTest, ShippedImagePassesAndNamesItsRelease) {
  Block code = Shipped();
  ASSERT_EQ(StoreOffset(code), kShippedStoreOffset);
  ASSERT_EQ(StoreSize(code), kShippedStoreSize);
  ImageVerdict verdict = CheckImage(code.data(), code.size());
  EXPECT_EQ(verdict.check, 0) << verdict.message;
  ProfileView view;
  Outcome outcome = RunToExit([&] { view = ValidateImage(code.data(), code.size()); });
  EXPECT_FALSE(outcome.ended);
  EXPECT_EQ(outcome.text, "Ready to program K27 firmware release 1.1.5(1)\n");
  EXPECT_EQ(view.offset, kShippedStoreOffset);
  EXPECT_EQ(view.length, kShippedStoreSize);
  EXPECT_EQ(code, Shipped());
}

struct FailureCase {
  const char* name;
  Mutation mutate;
  Seal seal;
  int check;
  const char* message;
  int status;
};

// Each image fails exactly one check, except the last rows, which fail two
// and must report the earlier.
TEST_F(ValidateImageTest, EachCheckEndsTheRunWithItsOwnMessage) {
  const uint32_t size = static_cast<uint32_t>(Shipped().size());
  const FailureCase cases[] = {
      {"size", [](Block& c) { c.pop_back(); }, kSealNone, 1, "CODE BLOCK SIZE NOT A MULTIPLE OF 4", 1},
      {"code crc", [](Block& c) { c[100] ^= 0x01; }, kSealNone, 2, "CODE BLOCK CRC CHECK FAILED", 1},
      {"code magic", Code16(model::kMagicAt, 0xC0DF), kSealCode, 3, "BAD CODE BLOCK MAGIC", 1},
      {"code type", Code16(model::kTypeAt, 3), kSealCode, 4, "NOT A CODE BLOCK", 1},
      {"code target", CodeName("K28"), kSealCode, 5, "NOT K27 CODE", 1},
      {"code start", Code32(model::kStartAt, 0x80004), kSealCode, 6, "CODE BLOCK START FIELD INCORRECT", 1},
      {"code end", Code32(model::kEndAt, 0x80000 + size), kSealCode, 7, "CODE BLOCK END FIELD INCORRECT", 1},
      {"code x", Code8(model::kXVersionAt, 2), kSealCode, 8, "UNKNOWN CODE HEADER X VERSION", 108},
      {"code y", Code8(model::kYVersionAt, 3), kSealCode, 9, "UNKNOWN CODE HEADER Y VERSION", 109},
      {"store start", Code32(model::kStoreStartAt, 0x7FFFC), kSealCode, 10, "STORE START FIELD INCORRECT", 1},
      {"store size", Code32(model::kStoreSizeAt, size - kShippedStoreOffset + 4), kSealCode, 11,
       "STORE SIZE FIELD INCORRECT", 1},
      {"profile size", Code32(model::kStoreSizeAt, kShippedStoreSize - 1), kSealCode, 12,
       "PROFILE SIZE NOT A MULTIPLE OF 4", 1},
      {"profile crc", [](Block& c) { Profile(c)[100] ^= 0x80; }, kSealCode, 13, "PROFILE CRC CHECK FAILED", 1},
      {"profile magic", Profile16(model::kMagicAt, 0xDEC0), kSealBoth, 14, "BAD BLOCK MAGIC", 1},
      {"profile type", Profile16(model::kTypeAt, 1), kSealBoth, 15, "NOT A PROFILE BLOCK", 1},
      {"profile target", ProfileName("K27X"), kSealBoth, 16, "NOT K27 PROFILE", 1},
      {"profile start", Profile32(model::kStartAt, 4), kSealBoth, 17, "PROFILE BLOCK START FIELD INCORRECT", 1},
      {"profile end", Profile32(model::kEndAt, kShippedStoreSize), kSealBoth, 18,
       "PROFILE BLOCK END FIELD INCORRECT", 1},
      {"profile x", Profile8(model::kXVersionAt, 2), kSealBoth, 19, "UNKNOWN PROFILE HEADER X VERSION", 1},
      {"profile y", Profile8(model::kYVersionAt, 1), kSealBoth, 20, "UNKNOWN PROFILE HEADER Y VERSION", 1},
      {"branch", Profile16(model::kProfileBranchAt, 2), kSealBoth, 21, "PROFILE/CODE BRANCH MISMATCH", 1},
      {"version", Profile16(model::kProfileVersionAt, 0), kSealBoth, 22, "PROFILE/CODE VERSION MISMATCH", 1},
      {"revision", Profile16(model::kProfileRevisionAt, 4), kSealBoth, 23, "PROFILE/CODE REVISION MISMATCH", 1},
      {"from revision", Profile16(model::kFromRevisionAt, 6), kSealBoth, 24, "BAD PROFILE FROM REVISION", 1},

      {"size before crc", [](Block& c) { c[100] ^= 1; c.resize(c.size() - 2); }, kSealNone, 1,
       "CODE BLOCK SIZE NOT A MULTIPLE OF 4", 1},
      {"crc before magic", Code16(model::kMagicAt, 0xC0DF), kSealNone, 2, "CODE BLOCK CRC CHECK FAILED", 1},
      {"x whatever y", Both(Code8(model::kXVersionAt, 2), Code8(model::kYVersionAt, 3)), kSealCode, 8,
       "UNKNOWN CODE HEADER X VERSION", 108},
      {"type before target", Both(Code16(model::kTypeAt, 0), CodeName("k27")), kSealCode, 4,
       "NOT A CODE BLOCK", 1},
      {"code before profile", Both(Code8(model::kYVersionAt, 0), Profile16(model::kMagicAt, 0)), kSealBoth, 9,
       "UNKNOWN CODE HEADER Y VERSION", 109},
      {"store start before size", Both(Code32(model::kStoreStartAt, 0), Code32(model::kStoreSizeAt, 0xFFFFFFFF)),
       kSealCode, 10, "STORE START FIELD INCORRECT", 1},
      {"profile crc before magic", Profile16(model::kMagicAt, 0), kSealCode, 13, "PROFILE CRC CHECK FAILED", 1},
      {"profile header before cross-check", Both(Profile8(model::kYVersionAt, 2), Profile16(model::kProfileBranchAt, 9)),
       kSealBoth, 20, "UNKNOWN PROFILE HEADER Y VERSION", 1},
      {"branch before from revision", Both(Profile16(model::kProfileBranchAt, 0), Profile16(model::kFromRevisionAt, 9)),
       kSealBoth, 21, "PROFILE/CODE BRANCH MISMATCH", 1},
  };
  for (const FailureCase& row : cases) {
    SCOPED_TRACE(row.name);
    Block code = Shipped();
    row.mutate(code);
    Apply(code, row.seal);
    ImageVerdict verdict = CheckImage(code.data(), code.size());
    EXPECT_EQ(verdict.check, row.check);
    EXPECT_STREQ(verdict.message ? verdict.message : "", row.message);
    EXPECT_EQ(verdict.status, row.status);
    // The stage ends the run with that message and prints nothing before it.
    Outcome outcome = RunToExit([&] { ValidateImage(code.data(), code.size()); });
    EXPECT_TRUE(outcome.ended);
    EXPECT_EQ(outcome.status, row.status);
    EXPECT_EQ(outcome.text, std::string(row.message) + "\nPress space to exit\n");
  }
}

struct BoundCase {
  const char* name;
  Mutation mutate;
  Seal seal;
  // The check the image must fail at, or 0 when it must pass them all.
  int fails_at;
};

TEST_F(ValidateImageTest, Bounds) {
  const uint32_t size = static_cast<uint32_t>(Shipped().size());
  const BoundCase cases[] = {
      // At the code base the store area holds the code header, sealed as a
      // profile: every check on the store's place passes, the block's type
      // is the first to fail.
      {"store start at the code base", Code32(model::kStoreStartAt, 0x80000), kSealBoth, 15},
      {"store start a word below", Code32(model::kStoreStartAt, 0x7FFFC), kSealCode, 10},
      // Inside the block, but its last word is the code block's checksum.
      {"store ends at the last byte", Code32(model::kStoreSizeAt, size - kShippedStoreOffset), kSealCode, 13},
      {"store a byte longer", Code32(model::kStoreSizeAt, size - kShippedStoreOffset + 1), kSealCode, 11},
      {"empty store at the very end", Both(Code32(model::kStoreStartAt, 0x80000 + size), Code32(model::kStoreSizeAt, 0)),
       kSealCode, 13},
      {"empty store past the end", Both(Code32(model::kStoreStartAt, 0x80000 + size + 4), Code32(model::kStoreSizeAt, 0)),
       kSealCode, 11},
      {"start plus size past 32 bits", Code32(model::kStoreStartAt, 0xFFFFFFFC), kSealCode, 11},
      {"size wraps the sum", Code32(model::kStoreSizeAt, 0xFFFFFFFC), kSealCode, 11},
      {"store size 0", ShortStore(0), kSealCode, 13},
      {"store of one zero word", ShortStore(4), kSealCode, 14},
      {"store of two words", ShortStore(8), kSealCode, 15},
      {"store a word short of the header", ShortStore(60), kSealCode, 15},
      {"store exactly the header", Both(Profile32(model::kEndAt, 63), ShortStore(64)), kSealCode, 0},
      {"code end a byte short", Code32(model::kEndAt, 0x80000 + size - 2), kSealCode, 7},
      {"profile end a byte short", Profile32(model::kEndAt, kShippedStoreSize - 2), kSealBoth, 18},
      {"code name then any bytes", [](Block& c) { std::memset(&c[20], 0xA5, 28); }, kSealCode, 0},
      {"profile name then any bytes", [](Block& c) { std::memset(Profile(c) + 20, 0xFF, 28); }, kSealBoth, 0},
      {"code name K27X", CodeName("K27X"), kSealCode, 5},
      {"code name k27", CodeName("k27"), kSealCode, 5},
      {"profile name k27", ProfileName("k27"), kSealBoth, 16},
      {"profile name empty", ProfileName(""), kSealBoth, 16},
      {"from revision equal", Profile16(model::kFromRevisionAt, 5), kSealBoth, 0},
      {"from revision one greater", Profile16(model::kFromRevisionAt, 6), kSealBoth, 24},
      {"from revision lower", Profile16(model::kFromRevisionAt, 4), kSealBoth, 0},
      {"from revision high byte", Profile16(model::kFromRevisionAt, 0x0105), kSealBoth, 24},
      {"profile branch 0x0101", Profile16(model::kProfileBranchAt, 0x0101), kSealBoth, 21},
      {"profile version 0x0101", Profile16(model::kProfileVersionAt, 0x0101), kSealBoth, 22},
      {"profile revision 0x0105", Profile16(model::kProfileRevisionAt, 0x0105), kSealBoth, 23},
      {"code branch 0x0101", Code16(model::kCodeBranchAt, 0x0101), kSealCode, 21},
      {"both branches 0x0101", Both(Code16(model::kCodeBranchAt, 0x0101), Profile16(model::kProfileBranchAt, 0x0101)), kSealBoth,
       0},
  };
  for (const BoundCase& row : cases) {
    SCOPED_TRACE(row.name);
    Block code = Shipped();
    row.mutate(code);
    Apply(code, row.seal);
    ImageVerdict verdict = CheckImage(code.data(), code.size());
    EXPECT_EQ(verdict.check, row.fails_at) << (verdict.message ? verdict.message : "passed");
  }
}

// Blocks shorter than the tool's own image ever is: nothing is read outside
// them, and one too short for the code header is no code block.
TEST_F(ValidateImageTest, TinyCodeBlocks) {
  struct Row {
    Block code;
    int check;
  };
  Block header_only(8);
  model::PutBig(&header_only[0], 2, 0xC0DE);
  model::PutBig(&header_only[2], 2, 1);
  model::SealBlock(header_only.data(), header_only.size());
  Block shipped_header = Shipped();
  shipped_header.resize(88);
  model::SealBlock(shipped_header.data(), shipped_header.size());
  const Row rows[] = {
      {{}, 2},
      {{0, 0, 0, 0}, 3},
      {header_only, 4},
      {shipped_header, 4},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.code.size());
    EXPECT_EQ(CheckImage(row.code.data(), row.code.size()).check, row.check);
  }
}

TEST_F(ValidateImageTest, ProfileBlockAtAnUnalignedStart) {
  Block code = Shipped();
  std::memmove(&code[kShippedStoreOffset + 1], &code[kShippedStoreOffset], kShippedStoreSize);
  model::PutBig(&code[model::kStoreStartAt], 4, 0x80000 + kShippedStoreOffset + 1);
  Apply(code, kSealCode);
  ImageVerdict verdict = CheckImage(code.data(), code.size());
  EXPECT_EQ(verdict.check, 0) << verdict.message;
  EXPECT_EQ(verdict.profile.offset, kShippedStoreOffset + 1);
  EXPECT_EQ(verdict.profile.length, kShippedStoreSize);
}

TEST_F(ValidateImageTest, ReleaseLinePrintsUnsigned16BitValues) {
  struct Row {
    uint16_t branch, version, revision, number;
    const char* line;
  };
  const Row rows[] = {
      {0xFFFF, 1, 5, 1, "Ready to program K27 firmware release 65535.1.5(1)\n"},
      {0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, "Ready to program K27 firmware release 65535.65535.65535(65535)\n"},
      {0x1234, 2, 300, 7, "Ready to program K27 firmware release 4660.2.300(7)\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    Block code = Shipped();
    model::PutBig(&code[model::kCodeBranchAt], 2, row.branch);
    model::PutBig(&code[model::kCodeVersionAt], 2, row.version);
    model::PutBig(&code[model::kCodeRevisionAt], 2, row.revision);
    model::PutBig(Profile(code) + model::kProfileBranchAt, 2, row.branch);
    model::PutBig(Profile(code) + model::kProfileVersionAt, 2, row.version);
    model::PutBig(Profile(code) + model::kProfileRevisionAt, 2, row.revision);
    model::PutBig(Profile(code) + model::kFromRevisionAt, 2, row.revision);
    model::PutBig(Profile(code) + model::kProfileNumberAt, 2, row.number);
    Apply(code, kSealBoth);
    Outcome outcome = RunToExit([&] { ValidateImage(code.data(), code.size()); });
    EXPECT_FALSE(outcome.ended) << outcome.message;
    EXPECT_EQ(outcome.text, row.line);
  }
}

}  // namespace
