#include "image/validate_image.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "image/byte_order.h"
#include "image/checksum.h"
#include "k27image/shipped_image.h"
#include "support/run_to_exit.h"

namespace {

using Block = std::vector<uint8_t>;

// Where the shipped profile block lies inside the shipped code block.
constexpr uint32_t kShippedStoreOffset = 0x7740;
static_assert(kShippedStoreStart == kCodeBlockBaseAddress + kShippedStoreOffset);

uint32_t StoreOffset(const Block& code) { return ReadBig32(&code[kCodeStoreStart]) - kCodeBlockBaseAddress; }
uint32_t StoreSize(const Block& code) { return ReadBig32(&code[kCodeStoreSize]); }
uint8_t* Profile(Block& code) { return code.data() + StoreOffset(code); }

// Which checksums a mutation restores, so that each check is reached for
// real: the profile's first (it lies inside the code block), then the code
// block's.
enum Seal { kSealNone, kSealCode, kSealBoth };

void Apply(Block& code, Seal seal) {
  if (seal == kSealBoth) RegenerateBlockChecksum(Profile(code), StoreSize(code));
  if (seal != kSealNone) RegenerateBlockChecksum(code.data(), code.size());
}

using Mutation = std::function<void(Block&)>;

Mutation Code16(uint32_t offset, uint16_t value) {
  return [=](Block& c) { WriteBig16(&c[offset], value); };
}
Mutation Code32(uint32_t offset, uint32_t value) {
  return [=](Block& c) { WriteBig32(&c[offset], value); };
}
Mutation Code8(uint32_t offset, uint8_t value) {
  return [=](Block& c) { c[offset] = value; };
}
Mutation Profile16(uint32_t offset, uint16_t value) {
  return [=](Block& c) { WriteBig16(Profile(c) + offset, value); };
}
Mutation Profile32(uint32_t offset, uint32_t value) {
  return [=](Block& c) { WriteBig32(Profile(c) + offset, value); };
}
Mutation Profile8(uint32_t offset, uint8_t value) {
  return [=](Block& c) { Profile(c)[offset] = value; };
}
Mutation Both(Mutation first, Mutation second) {
  return [=](Block& c) {
    first(c);
    second(c);
  };
}
Mutation CodeName(const char* name) {
  return [=](Block& c) { std::memcpy(&c[kHeaderTargetName], name, std::strlen(name) + 1); };
}
Mutation ProfileName(const char* name) {
  return [=](Block& c) { std::memcpy(Profile(c) + kHeaderTargetName, name, std::strlen(name) + 1); };
}
// A store area of `size` bytes at the shipped start whose own checksum
// verifies (for sizes of at least a word).
Mutation ShortStore(uint32_t size) {
  return [=](Block& c) {
    WriteBig32(&c[kCodeStoreSize], size);
    if (size >= 4) RegenerateBlockChecksum(Profile(c), size);
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
      {"code magic", Code16(kHeaderMagic, 0xC0DF), kSealCode, 3, "BAD CODE BLOCK MAGIC", 1},
      {"code type", Code16(kHeaderBlockType, 3), kSealCode, 4, "NOT A CODE BLOCK", 1},
      {"code target", CodeName("K28"), kSealCode, 5, "NOT K27 CODE", 1},
      {"code start", Code32(kHeaderStartAddress, 0x80004), kSealCode, 6, "CODE BLOCK START FIELD INCORRECT", 1},
      {"code end", Code32(kHeaderEndAddress, 0x80000 + size), kSealCode, 7, "CODE BLOCK END FIELD INCORRECT", 1},
      {"code x", Code8(kHeaderXVersion, 2), kSealCode, 8, "UNKNOWN CODE HEADER X VERSION", 108},
      {"code y", Code8(kHeaderYVersion, 3), kSealCode, 9, "UNKNOWN CODE HEADER Y VERSION", 109},
      {"store start", Code32(kCodeStoreStart, 0x7FFFC), kSealCode, 10, "STORE START FIELD INCORRECT", 1},
      {"store size", Code32(kCodeStoreSize, size - kShippedStoreOffset + 4), kSealCode, 11,
       "STORE SIZE FIELD INCORRECT", 1},
      {"profile size", Code32(kCodeStoreSize, kShippedStoreSize - 1), kSealCode, 12,
       "PROFILE SIZE NOT A MULTIPLE OF 4", 1},
      {"profile crc", [](Block& c) { Profile(c)[100] ^= 0x80; }, kSealCode, 13, "PROFILE CRC CHECK FAILED", 1},
      {"profile magic", Profile16(kHeaderMagic, 0xDEC0), kSealBoth, 14, "BAD BLOCK MAGIC", 1},
      {"profile type", Profile16(kHeaderBlockType, 1), kSealBoth, 15, "NOT A PROFILE BLOCK", 1},
      {"profile target", ProfileName("K27X"), kSealBoth, 16, "NOT K27 PROFILE", 1},
      {"profile start", Profile32(kHeaderStartAddress, 4), kSealBoth, 17, "PROFILE BLOCK START FIELD INCORRECT", 1},
      {"profile end", Profile32(kHeaderEndAddress, kShippedStoreSize), kSealBoth, 18,
       "PROFILE BLOCK END FIELD INCORRECT", 1},
      {"profile x", Profile8(kHeaderXVersion, 2), kSealBoth, 19, "UNKNOWN PROFILE HEADER X VERSION", 1},
      {"profile y", Profile8(kHeaderYVersion, 1), kSealBoth, 20, "UNKNOWN PROFILE HEADER Y VERSION", 1},
      {"branch", Profile16(kProfileBranch, 2), kSealBoth, 21, "PROFILE/CODE BRANCH MISMATCH", 1},
      {"version", Profile16(kProfileVersion, 0), kSealBoth, 22, "PROFILE/CODE VERSION MISMATCH", 1},
      {"revision", Profile16(kProfileRevision, 4), kSealBoth, 23, "PROFILE/CODE REVISION MISMATCH", 1},
      {"from revision", Profile16(kProfileFromRevision, 6), kSealBoth, 24, "BAD PROFILE FROM REVISION", 1},

      {"size before crc", [](Block& c) { c[100] ^= 1; c.resize(c.size() - 2); }, kSealNone, 1,
       "CODE BLOCK SIZE NOT A MULTIPLE OF 4", 1},
      {"crc before magic", Code16(kHeaderMagic, 0xC0DF), kSealNone, 2, "CODE BLOCK CRC CHECK FAILED", 1},
      {"x whatever y", Both(Code8(kHeaderXVersion, 2), Code8(kHeaderYVersion, 3)), kSealCode, 8,
       "UNKNOWN CODE HEADER X VERSION", 108},
      {"type before target", Both(Code16(kHeaderBlockType, 0), CodeName("k27")), kSealCode, 4,
       "NOT A CODE BLOCK", 1},
      {"code before profile", Both(Code8(kHeaderYVersion, 0), Profile16(kHeaderMagic, 0)), kSealBoth, 9,
       "UNKNOWN CODE HEADER Y VERSION", 109},
      {"store start before size", Both(Code32(kCodeStoreStart, 0), Code32(kCodeStoreSize, 0xFFFFFFFF)),
       kSealCode, 10, "STORE START FIELD INCORRECT", 1},
      {"profile crc before magic", Profile16(kHeaderMagic, 0), kSealCode, 13, "PROFILE CRC CHECK FAILED", 1},
      {"profile header before cross-check", Both(Profile8(kHeaderYVersion, 2), Profile16(kProfileBranch, 9)),
       kSealBoth, 20, "UNKNOWN PROFILE HEADER Y VERSION", 1},
      {"branch before from revision", Both(Profile16(kProfileBranch, 0), Profile16(kProfileFromRevision, 9)),
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
  // When fails_at is -1: the check the image must get past (it may fail a
  // later one, having no profile block where its fields now point).
  int gets_past = 0;
};

TEST_F(ValidateImageTest, Bounds) {
  const uint32_t size = static_cast<uint32_t>(Shipped().size());
  const BoundCase cases[] = {
      {"store start at the code base", Code32(kCodeStoreStart, 0x80000), kSealCode, -1, 10},
      {"store start a word below", Code32(kCodeStoreStart, 0x7FFFC), kSealCode, 10},
      {"store ends at the last byte", Code32(kCodeStoreSize, size - kShippedStoreOffset), kSealCode, -1, 11},
      {"store a byte longer", Code32(kCodeStoreSize, size - kShippedStoreOffset + 1), kSealCode, 11},
      {"empty store at the very end", Both(Code32(kCodeStoreStart, 0x80000 + size), Code32(kCodeStoreSize, 0)),
       kSealCode, 13},
      {"empty store past the end", Both(Code32(kCodeStoreStart, 0x80000 + size + 4), Code32(kCodeStoreSize, 0)),
       kSealCode, 11},
      {"start plus size past 32 bits", Code32(kCodeStoreStart, 0xFFFFFFFC), kSealCode, 11},
      {"size wraps the sum", Code32(kCodeStoreSize, 0xFFFFFFFC), kSealCode, 11},
      {"store size 0", ShortStore(0), kSealCode, 13},
      {"store of one zero word", ShortStore(4), kSealCode, 14},
      {"store of two words", ShortStore(8), kSealCode, 15},
      {"store a word short of the header", ShortStore(60), kSealCode, 15},
      {"store exactly the header", Both(Profile32(kHeaderEndAddress, 63), ShortStore(64)), kSealCode, 0},
      {"code end a byte short", Code32(kHeaderEndAddress, 0x80000 + size - 2), kSealCode, 7},
      {"profile end a byte short", Profile32(kHeaderEndAddress, kShippedStoreSize - 2), kSealBoth, 18},
      {"code name then any bytes", [](Block& c) { std::memset(&c[20], 0xA5, 28); }, kSealCode, 0},
      {"profile name then any bytes", [](Block& c) { std::memset(Profile(c) + 20, 0xFF, 28); }, kSealBoth, 0},
      {"code name K27X", CodeName("K27X"), kSealCode, 5},
      {"code name k27", CodeName("k27"), kSealCode, 5},
      {"profile name k27", ProfileName("k27"), kSealBoth, 16},
      {"profile name empty", ProfileName(""), kSealBoth, 16},
      {"from revision equal", Profile16(kProfileFromRevision, 5), kSealBoth, 0},
      {"from revision one greater", Profile16(kProfileFromRevision, 6), kSealBoth, 24},
      {"from revision lower", Profile16(kProfileFromRevision, 4), kSealBoth, 0},
      {"from revision high byte", Profile16(kProfileFromRevision, 0x0105), kSealBoth, 24},
      {"profile branch 0x0101", Profile16(kProfileBranch, 0x0101), kSealBoth, 21},
      {"profile version 0x0101", Profile16(kProfileVersion, 0x0101), kSealBoth, 22},
      {"profile revision 0x0105", Profile16(kProfileRevision, 0x0105), kSealBoth, 23},
      {"code branch 0x0101", Code16(kCodeBranch, 0x0101), kSealCode, 21},
      {"both branches 0x0101", Both(Code16(kCodeBranch, 0x0101), Profile16(kProfileBranch, 0x0101)), kSealBoth,
       0},
  };
  for (const BoundCase& row : cases) {
    SCOPED_TRACE(row.name);
    Block code = Shipped();
    row.mutate(code);
    Apply(code, row.seal);
    ImageVerdict verdict = CheckImage(code.data(), code.size());
    if (row.fails_at >= 0) {
      EXPECT_EQ(verdict.check, row.fails_at) << (verdict.message ? verdict.message : "passed");
    } else {
      EXPECT_TRUE(verdict.check == 0 || verdict.check > row.gets_past) << verdict.message;
    }
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
  WriteBig16(&header_only[0], 0xC0DE);
  WriteBig16(&header_only[2], 1);
  RegenerateBlockChecksum(header_only.data(), header_only.size());
  Block shipped_header = Shipped();
  shipped_header.resize(88);
  RegenerateBlockChecksum(shipped_header.data(), shipped_header.size());
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
  WriteBig32(&code[kCodeStoreStart], 0x80000 + kShippedStoreOffset + 1);
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
    WriteBig16(&code[kCodeBranch], row.branch);
    WriteBig16(&code[kCodeVersion], row.version);
    WriteBig16(&code[kCodeRevision], row.revision);
    WriteBig16(Profile(code) + kProfileBranch, row.branch);
    WriteBig16(Profile(code) + kProfileVersion, row.version);
    WriteBig16(Profile(code) + kProfileRevision, row.revision);
    WriteBig16(Profile(code) + kProfileFromRevision, row.revision);
    WriteBig16(Profile(code) + kProfileNumber, row.number);
    Apply(code, kSealBoth);
    Outcome outcome = RunToExit([&] { ValidateImage(code.data(), code.size()); });
    EXPECT_FALSE(outcome.ended) << outcome.message;
    EXPECT_EQ(outcome.text, row.line);
  }
}

}  // namespace
