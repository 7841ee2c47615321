#include "support/fake_code_programming.h"

#include <algorithm>

#include "run/committed_span.h"
#include "support/recording_console.h"

void ProgrammingLog::Add(const char* what) {
  ProgrammingEvent event;
  event.what = what;
  if (RecordingConsole* console = CurrentRecordingConsole()) {
    event.console = console->text;
    event.flushed = !console->flushes.empty() && console->flushes.back() == console->text.size();
  }
  event.committed = ControlEventIgnored(kCtrlCEvent);
  events.push_back(event);
}

std::vector<std::string> ProgrammingLog::Names() const {
  std::vector<std::string> names;
  for (const ProgrammingEvent& e : events) names.push_back(e.what);
  return names;
}

size_t ProgrammingLog::Count(const std::string& what) const {
  return std::count_if(events.begin(), events.end(),
                       [&](const ProgrammingEvent& e) { return e.what == what; });
}

HRESULT FakeCodeProgramming::QueryInterface(REFIID iid, void** out) {
  if (iid == IID_IUnknown || iid == IID_ICodeProgramming) {
    *out = this;
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

HRESULT FakeCodeProgramming::AcquireGroup(ULONG id, const GUID* uuid, ULONG* group_out,
                                          unsigned short* status) {
  log_->Add("AcquireGroup");
  group_id = id;
  group_uuid = *uuid;
  *group_out = 0xDEADBEEF;
  *status = acquire.status;
  return acquire.hr;
}

HRESULT FakeCodeProgramming::Unused1() {
  log_->Add("Unused1");
  return E_NOTIMPL;
}

HRESULT FakeCodeProgramming::EraseStart(ULONG first, ULONG second, unsigned short* status) {
  log_->Add("EraseStart");
  erase_first = first;
  erase_second = second;
  *status = erase_start.status;
  return erase_start.hr;
}

HRESULT FakeCodeProgramming::ErasePoll(unsigned short* status) {
  log_->Add("ErasePoll");
  if (polls_answered_ >= polls.size()) {
    *status = 17;
    return E_FAIL;
  }
  const ServerReply& reply = polls[polls_answered_++];
  *status = reply.status;
  return reply.hr;
}

HRESULT FakeCodeProgramming::Program(ULONG address, ULONG length, LPSAFEARRAY code,
                                     unsigned short* status) {
  log_->Add("Program");
  program_address = address;
  program_length = length;
  if (code) {
    SafeArrayGetVartype(code, &program_vartype);
    program_dims = SafeArrayGetDim(code);
    SafeArrayGetLBound(code, 1, &program_lower);
    SafeArrayGetUBound(code, 1, &program_upper);
    program_locks = code->cLocks;
    if (program_dims == 1 && program_upper >= program_lower) {
      const uint8_t* data = static_cast<const uint8_t*>(code->pvData);
      programmed.assign(data, data + (program_upper - program_lower + 1));
    }
  }
  *status = program.status;
  return program.hr;
}

HRESULT FakeCodeProgramming::Reset(unsigned short* status) {
  log_->Add("Reset");
  *status = reset.status;
  return reset.hr;
}

bool FakeProgrammingPlatform::QueryCounterFrequency(int64_t* value) {
  log_->Add("frequency");
  if (!counter_available) return false;
  *value = frequency;
  return true;
}

int64_t FakeProgrammingPlatform::QueryCounter() {
  log_->Add("counter");
  if (counts.empty()) return 0;
  size_t i = std::min(counts_read_++, counts.size() - 1);
  return counts[i];
}

void FakeProgrammingPlatform::CreateUuid(GUID* out) {
  log_->Add("uuid");
  *out = uuid;
}

int64_t FakeProgrammingPlatform::CalendarTime() {
  log_->Add("time");
  return time;
}

// The arrays themselves are the tool's own.
SAFEARRAY* FakeProgrammingPlatform::CreateCodeArray(const uint8_t* code, uint32_t size) {
  log_->Add("create array");
  return DefaultProgrammingPlatform()->CreateCodeArray(code, size);
}

void FakeProgrammingPlatform::DestroyCodeArray(SAFEARRAY* array) {
  log_->Add("destroy array");
  DefaultProgrammingPlatform()->DestroyCodeArray(array);
}
