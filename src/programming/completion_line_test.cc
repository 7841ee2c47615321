#include "programming/completion_line.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "support/run_to_exit.h"

TEST(CompletionLineTest, Lines) {
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
  struct Case {
    int64_t frequency, start, end;
    const char* line;
  } cases[] = {
      {0, 100, 5000, "complete\n"},  // no counter: no time
      {1000, 1000, 9214, "complete (8.214secs)\n"},
      {3, 0, 37, "complete (12.333secs)\n"},
      {10000000, 5, 5, "complete (0.000secs)\n"},
      {1000, 5000, 3000, "complete (-2.000secs)\n"},   // signed, not a huge unsigned
      {1000, kMax - 499, kMin + 500, "complete (1.000secs)\n"},  // across the wrap
      {1000, 0, 1999, "complete (1.999secs)\n"},
  };
  for (const Case& c : cases) {
    RecordingConsole console;
    PrintCompletionLine(c.frequency, c.start, c.end);
    EXPECT_EQ(console.text, c.line) << c.frequency << " " << c.start << " " << c.end;
  }
}
