#include "programming/time_stamp.h"

#include <gtest/gtest.h>

#include <vector>

#include "model/block_layout.h"

TEST(CalendarTime32Test, ValueUpToTheLastSecondAllOnesAfter) {
  struct Case {
    int64_t time64;
    uint32_t expected;
  } cases[] = {
      {0, 0},
      {1700000000, 1700000000u},
      {2147471998, 2147471998u},
      {2147471999, 2147471999u},  // 2038-01-18 23:59:59 UTC
      {2147472000, 0xFFFFFFFFu},
      {0x7FFFFFFF, 0xFFFFFFFFu},
      {0x100000000LL + 5, 0xFFFFFFFFu},  // a truncating cast would give 5
      {-1, 0xFFFFFFFFu},                 // the clock could not be read
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CalendarTime32(c.time64), c.expected) << c.time64;
  }
}

TEST(WriteTimeStampTest, BigEndianAtItsOffsetOnly) {
  std::vector<uint8_t> block(96, 0xAA);
  WriteTimeStamp(block.data(), 0x12345678u);
  for (size_t i = 0; i < block.size(); ++i) {
    uint8_t expected = 0xAA;
    const size_t at = model::kTimeStampAt;
    if (i >= at && i < at + 4) expected = static_cast<uint8_t>(0x12 + 0x22 * (i - at));
    EXPECT_EQ(block[i], expected) << i;
  }
}
