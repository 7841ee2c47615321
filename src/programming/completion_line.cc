#include "programming/completion_line.h"

#include "run/console.h"

double ElapsedSeconds(int64_t frequency, int64_t start_count, int64_t end_count) {
  // The difference wraps as the counter does, rather than overflowing.
  int64_t counts = static_cast<int64_t>(static_cast<uint64_t>(end_count) -
                                        static_cast<uint64_t>(start_count));
  return static_cast<double>(counts) / static_cast<double>(frequency);
}

void PrintCompletionLine(int64_t frequency, int64_t start_count, int64_t end_count) {
  if (frequency == 0) {
    PrintLine("complete");
    return;
  }
  PrintFormat("complete (%.3fsecs)\n", ElapsedSeconds(frequency, start_count, end_count));
}
