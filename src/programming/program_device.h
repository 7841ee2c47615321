#ifndef K27_PROGRAMMING_PROGRAM_DEVICE_H_
#define K27_PROGRAMMING_PROGRAM_DEVICE_H_

#include <windows.h>
#include <oleauto.h>

#include <cstdint>

#include "image/inflate.h"
#include "image/validate_image.h"
#include "k27server.h"
#include "server/device_record.h"

// Status words of the code-programming operations.
constexpr unsigned short kStatusDone = 0;
constexpr unsigned short kStatusBusy = 17;

// What the programming sequence needs of the platform besides the server:
// the performance counter, a fresh UUID, the calendar time and the code byte
// array. Tests supply their own.
class ProgrammingPlatform {
 public:
  virtual ~ProgrammingPlatform() = default;
  // False when the counter is unavailable.
  virtual bool QueryCounterFrequency(int64_t* frequency) = 0;
  virtual int64_t QueryCounter() = 0;
  virtual void CreateUuid(GUID* uuid) = 0;
  // Seconds since 1970-01-01 00:00:00 UTC, 64-bit.
  virtual int64_t CalendarTime() = 0;
  // The code byte array, filled and locked, and its end right after the
  // Program call. An array that cannot be had raises std::bad_alloc.
  virtual SAFEARRAY* CreateCodeArray(const uint8_t* code, uint32_t size) = 0;
  virtual void DestroyCodeArray(SAFEARRAY* array) = 0;
};

ProgrammingPlatform* DefaultProgrammingPlatform();

// Gates on the device's boot code, stamps the time into the code header and
// regenerates the code block's checksum, then acquires the programming
// group, erases, programs the code block at the code base address and asks
// for a reset. Every path ends in FatalExit; nothing is asked of the device
// before the gate has passed. The committed span (run/committed_span.h)
// begins right before the programming group is asked for.
[[noreturn]] void ProgramDevice(ICodeProgramming* programming, const DeviceRecord& device,
                                CodeBlock& code,
                                ProgrammingPlatform* platform = DefaultProgrammingPlatform());

#endif  // K27_PROGRAMMING_PROGRAM_DEVICE_H_
