#include "programming/time_stamp.h"

#include "image/byte_order.h"

uint32_t CalendarTime32(int64_t time64) {
  if (time64 < 0 || time64 > kLastCalendarTime32) return 0xFFFFFFFFu;
  return static_cast<uint32_t>(time64);
}

void WriteTimeStamp(uint8_t* code_block, uint32_t time) {
  WriteBig32(code_block + kCodeTimeStamp, time);
}
