#ifndef K27_SUPPORT_FAKE_CODE_PROGRAMMING_H_
#define K27_SUPPORT_FAKE_CODE_PROGRAMMING_H_

// In-process stand-ins for the code-programming interface and the platform
// under the programming sequence. Both write into one event log, each event
// with what the console showed at that moment, so tests can check the order
// of server calls, platform calls and console output.

#include <string>
#include <vector>

#include "programming/program_device.h"

struct ProgrammingEvent {
  std::string what;     // "AcquireGroup", "EraseStart", "counter", ...
  std::string console;  // the transcript so far
  bool flushed = false; // the transcript so far had been flushed
  bool committed = false; // Ctrl+C was ignored: the committed span had begun
};

struct ProgrammingLog {
  std::vector<ProgrammingEvent> events;
  void Add(const char* what);
  // The names of the events, in order.
  std::vector<std::string> Names() const;
  size_t Count(const std::string& what) const;
};

// One answer of the server: the HRESULT and the status word written.
struct ServerReply {
  HRESULT hr = S_OK;
  unsigned short status = 0;
};

class FakeCodeProgramming : public ICodeProgramming {
 public:
  explicit FakeCodeProgramming(ProgrammingLog* log) : log_(log) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE AcquireGroup(ULONG group_id, const GUID* group_uuid, ULONG* group_out,
                                         unsigned short* status) override;
  HRESULT STDMETHODCALLTYPE Unused1() override;
  HRESULT STDMETHODCALLTYPE EraseStart(ULONG first, ULONG second, unsigned short* status) override;
  HRESULT STDMETHODCALLTYPE ErasePoll(unsigned short* status) override;
  HRESULT STDMETHODCALLTYPE Program(ULONG address, ULONG length, LPSAFEARRAY code,
                                    unsigned short* status) override;
  HRESULT STDMETHODCALLTYPE Reset(unsigned short* status) override;

  // Answers, set by the test.
  ServerReply acquire;
  ServerReply erase_start;
  // One per poll, in order; a poll past the end fails with E_FAIL (a
  // sequence that polls on for ever ends instead of hanging the test).
  std::vector<ServerReply> polls;
  ServerReply program;
  ServerReply reset;

  // What the sequence passed.
  ULONG group_id = 0;
  GUID group_uuid{};
  ULONG erase_first = 0, erase_second = 0;
  ULONG program_address = 0, program_length = 0;
  VARTYPE program_vartype = VT_EMPTY;
  UINT program_dims = 0;
  LONG program_lower = -1, program_upper = -1;
  ULONG program_locks = 0;
  std::vector<uint8_t> programmed;

 private:
  ProgrammingLog* log_;
  size_t polls_answered_ = 0;
};

class FakeProgrammingPlatform : public ProgrammingPlatform {
 public:
  explicit FakeProgrammingPlatform(ProgrammingLog* log) : log_(log) {}

  bool QueryCounterFrequency(int64_t* frequency) override;
  int64_t QueryCounter() override;
  void CreateUuid(GUID* uuid) override;
  int64_t CalendarTime() override;
  SAFEARRAY* CreateCodeArray(const uint8_t* code, uint32_t size) override;
  void DestroyCodeArray(SAFEARRAY* array) override;

  bool counter_available = true;
  int64_t frequency = 1000;
  // Readings of the counter, in order; past the end, the last one again.
  std::vector<int64_t> counts{0};
  GUID uuid{0x01234567, 0x89AB, 0xCDEF, {1, 2, 3, 4, 5, 6, 7, 8}};
  int64_t time = 0x5F5E1234;

 private:
  ProgrammingLog* log_;
  size_t counts_read_ = 0;
};

#endif  // K27_SUPPORT_FAKE_CODE_PROGRAMMING_H_
