#ifndef K27_PROGRAMMING_COMPLETION_LINE_H_
#define K27_PROGRAMMING_COMPLETION_LINE_H_

#include <cstdint>

// Completes a timed progress line: "complete" when the counter is unavailable
// (frequency 0), otherwise "complete (%.3fsecs)" with the counts' signed
// 64-bit difference divided by the frequency.
void PrintCompletionLine(int64_t frequency, int64_t start_count, int64_t end_count);

// The seconds between two counter readings.
double ElapsedSeconds(int64_t frequency, int64_t start_count, int64_t end_count);

#endif  // K27_PROGRAMMING_COMPLETION_LINE_H_
