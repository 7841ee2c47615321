#include "programming/program_device.h"

#include <rpc.h>

#include <ctime>

#include "image/checksum.h"
#include "programming/boot_gate.h"
#include "programming/completion_line.h"
#include "programming/time_stamp.h"
#include "run/committed_span.h"
#include "run/console.h"
#include "run/fatal_exit.h"
#include "server/safe_array.h"

namespace {

// EraseStart's two arguments: the whole code flash.
constexpr ULONG kEraseFirst = 0;
constexpr ULONG kEraseSecond = 0xFFFFFFFFu;

class WindowsProgrammingPlatform : public ProgrammingPlatform {
 public:
  bool QueryCounterFrequency(int64_t* frequency) override {
    LARGE_INTEGER value;
    if (!QueryPerformanceFrequency(&value)) return false;
    *frequency = value.QuadPart;
    return true;
  }
  int64_t QueryCounter() override {
    LARGE_INTEGER value;
    value.QuadPart = 0;
    QueryPerformanceCounter(&value);
    return value.QuadPart;
  }
  void CreateUuid(GUID* uuid) override { UuidCreate(uuid); }
  int64_t CalendarTime() override { return _time64(nullptr); }
  SAFEARRAY* CreateCodeArray(const uint8_t* code, uint32_t size) override {
    return CreateSentByteArray(code, size);
  }
  void DestroyCodeArray(SAFEARRAY* array) override { DestroySentArray(array); }
};

void CheckBootCodeGate(const DeviceRecord& device, const uint8_t* code_block) {
  switch (CheckBootCode(device, code_block)) {
    case BootCodeGate::kBranchTooLow:
      FatalExit(1, "BOOT CODE BRANCH TOO LOW FOR THIS CODE");
    case BootCodeGate::kVersionTooLow:
      FatalExit(1, "BOOT CODE VERSION TOO LOW FOR THIS CODE");
    case BootCodeGate::kPasses:
      break;
  }
}

void StampCodeBlock(CodeBlock& code, ProgrammingPlatform* platform) {
  WriteTimeStamp(code.bytes.get(), CalendarTime32(platform->CalendarTime()));
  RegenerateBlockChecksum(code.bytes.get(), code.size);
  if (BlockChecksum(code.bytes.get(), code.size / 4) != 0) FatalExit(1, "CRC REGENERATION FAILED");
}

void Erase(ICodeProgramming* programming, int64_t frequency, ProgrammingPlatform* platform) {
  unsigned short status = 0;
  PrintText("Code flash erase ... ");
  FlushOutput();
  int64_t start = platform->QueryCounter();
  CheckHresult(programming->EraseStart(kEraseFirst, kEraseSecond, &status));
  if (status == kStatusDone) {
    // Done before it could be timed.
    PrintLine("complete");
    return;
  }
  if (status != kStatusBusy) FatalExit(1, "CODE FLASH ERASE FAILED");
  PrintText("erasing ... ");
  FlushOutput();
  // Only the device ends the erase: no delay, no time-out.
  do {
    CheckHresult(programming->ErasePoll(&status));
  } while (status == kStatusBusy);
  if (status != kStatusDone) FatalExit(1, "CODE FLASH ERASE FAILED");
  int64_t end = platform->QueryCounter();
  PrintCompletionLine(frequency, start, end);
}

void Program(ICodeProgramming* programming, const CodeBlock& code, int64_t frequency,
             ProgrammingPlatform* platform) {
  unsigned short status = 0;
  PrintText("Code flash program ... ");
  FlushOutput();
  int64_t start = platform->QueryCounter();
  // Made after the start count: the time shown includes the copy.
  SAFEARRAY* array = platform->CreateCodeArray(code.bytes.get(), code.size);
  CheckHresult(programming->Program(kCodeBlockBaseAddress, code.size, array, &status));
  // Gone before its outcome is looked at, whatever that is.
  platform->DestroyCodeArray(array);
  if (status != kStatusDone) FatalExit(1, "CODE FLASH PROGRAM FAILED");
  int64_t end = platform->QueryCounter();
  PrintCompletionLine(frequency, start, end);
}

void Reset(ICodeProgramming* programming) {
  unsigned short status = 0;
  PrintText("Reset request ... ");
  FlushOutput();
  CheckHresult(programming->Reset(&status));
  if (status != kStatusDone) FatalExit(1, "RESET REJECTED");
  PrintLine("accepted");
}

}  // namespace

ProgrammingPlatform* DefaultProgrammingPlatform() {
  static WindowsProgrammingPlatform platform;
  return &platform;
}

void ProgramDevice(ICodeProgramming* programming, const DeviceRecord& device, CodeBlock& code,
                   ProgrammingPlatform* platform) {
  CheckBootCodeGate(device, code.bytes.get());
  StampCodeBlock(code, platform);

  int64_t frequency = 0;
  if (!platform->QueryCounterFrequency(&frequency)) frequency = 0;

  GUID group_uuid;
  platform->CreateUuid(&group_uuid);
  ULONG group_out = 0;
  unsigned short status = 0;
  // From here on the device is committed: nothing typed or clicked in the
  // console may cut the run short.
  BeginCommittedSpan();
  CheckHresult(programming->AcquireGroup(DeviceGroupId(device),
                                         &group_uuid, &group_out, &status));
  if (status != kStatusDone) FatalExit(1, "COULD NOT ACQUIRE CODE PROGRAMMING GROUP AT DEVICE");

  Erase(programming, frequency, platform);
  Program(programming, code, frequency, platform);
  Reset(programming);
  FatalExit(0, "PROGRAMMING SUCCESSFUL");
}
