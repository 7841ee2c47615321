#include "programming/program_device.h"

#include <rpc.h>

#include <cstring>
#include <ctime>
#include <new>

#include "image/byte_order.h"
#include "image/checksum.h"
#include "programming/boot_gate.h"
#include "programming/completion_line.h"
#include "programming/time_stamp.h"
#include "run/console.h"
#include "run/fatal_exit.h"

namespace {

// The record's group id, handed to the server unchanged.
constexpr uint32_t kRecordGroupId = 12;

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
  SAFEARRAY* CreateByteArray(uint32_t count) override {
    SAFEARRAYBOUND bound;
    bound.cElements = count;
    bound.lLbound = 0;
    return SafeArrayCreate(VT_UI1, 1, &bound);
  }
  void DestroyArray(SAFEARRAY* array) override { SafeArrayDestroy(array); }
};

void CheckBootCodeGate(const uint8_t* device_record, const uint8_t* code_block) {
  switch (CheckBootCode(device_record, code_block)) {
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
  SAFEARRAY* array = platform->CreateByteArray(code.size);
  if (!array) throw std::bad_alloc();
  // A fresh array always locks, and its data is there from creation.
  SafeArrayLock(array);
  std::memcpy(array->pvData, code.bytes.get(), code.size);
  CheckHresult(programming->Program(kCodeBaseAddress, code.size, array, &status));
  SafeArrayUnlock(array);
  platform->DestroyArray(array);
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

void ProgramDevice(ICodeProgramming* programming, const uint8_t* device_record, CodeBlock& code,
                   ProgrammingPlatform* platform) {
  CheckBootCodeGate(device_record, code.bytes.get());
  StampCodeBlock(code, platform);

  int64_t frequency = 0;
  if (!platform->QueryCounterFrequency(&frequency)) frequency = 0;

  GUID group_uuid;
  platform->CreateUuid(&group_uuid);
  ULONG group_out = 0;
  unsigned short status = 0;
  CheckHresult(programming->AcquireGroup(ReadLittle32(device_record + kRecordGroupId),
                                         &group_uuid, &group_out, &status));
  if (status != kStatusDone) FatalExit(1, "COULD NOT ACQUIRE CODE PROGRAMMING GROUP AT DEVICE");

  Erase(programming, frequency, platform);
  Program(programming, code, frequency, platform);
  Reset(programming);
  FatalExit(0, "PROGRAMMING SUCCESSFUL");
}
