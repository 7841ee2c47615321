#ifndef K27_PROGRAMMING_TIME_STAMP_H_
#define K27_PROGRAMMING_TIME_STAMP_H_

#include <cstdint>

// The code header's time stamp: the 32-bit calendar time of the run,
// big-endian, written into the tool's copy of the code block before it is
// re-checksummed and programmed.
constexpr uint32_t kCodeTimeStamp = 52;

// The last second the 32-bit calendar time can tell: 2038-01-18 23:59:59 UTC.
constexpr int64_t kLastCalendarTime32 = 2147471999;

// The 32-bit calendar time for a 64-bit one: the value itself up to the last
// second it can hold, all ones past it (and for a clock that could not be
// read, reported as -1). Never a truncation.
uint32_t CalendarTime32(int64_t time64);

// Writes the time stamp, big-endian, into the code block's header.
void WriteTimeStamp(uint8_t* code_block, uint32_t time);

#endif  // K27_PROGRAMMING_TIME_STAMP_H_
