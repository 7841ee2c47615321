#include "server_state.h"

#include <cstdio>
#include <vector>

#include "bench/bench_file.h"
#include "client_watch.h"
#include "journal.h"
#include "lib/wide_text.h"

namespace {

CRITICAL_SECTION* CallLock() {
  static CRITICAL_SECTION lock;
  static const bool ready = (InitializeCriticalSection(&lock), true);
  (void)ready;
  return &lock;
}

volatile LONG g_objects = 0;
volatile LONG g_created = 0;

}  // namespace

ServerState& State() {
  static ServerState state;
  return state;
}

void LoadBench(const std::wstring& named) {
  ServerState& s = State();
  std::string text, error;
  if (named.empty()) {
    text = DefaultBenchText();
  } else if (!ReadBenchText(named, text, error)) {
    s.bench_error = Utf8(named) + ": " + error;
    return;
  }
  try {
    s.bench = ParseBench(text);
    s.bench_ok = true;
  } catch (const BenchError& e) {
    s.bench_error = std::string(named.empty() ? "built-in bench" : Utf8(named)) + ": " + e.what();
  }
}

void ObjectCreated() {
  InterlockedIncrement(&g_objects);
  InterlockedExchange(&g_created, 1);
}

void ObjectDestroyed() {
  if (InterlockedDecrement(&g_objects) == 0) SetEvent(AllReleasedEvent());
}

HANDLE AllReleasedEvent() {
  static HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  return event;
}

bool AnyObjectCreated() { return g_created != 0; }

HANDLE RefusedEvent() {
  static HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  return event;
}

Call::Call(Op op, nlohmann::json args) : op_(op), args_(std::move(args)) {
  EnterCriticalSection(CallLock());
  // On Windows the COM service makes the creation on the client's behalf:
  // the client is the process behind the calls on the objects handed out.
  if (op != Op::kCreateInstance) NoteCallingClient();
  else NoteCreatingProcess();
  action_ = State().plan.Next(op);
  if (action_.delay_ms) Sleep(action_.delay_ms);
  if (action_.kind == CallAction::Kind::kCrash) {
    JournalWrite({{"op", OpName(op_)}, {"call", action_.call}, {"args", args_}, {"crash", true}});
    // The server dies inside the call: the client sees the call fail.
    ExitProcess(3);
  }
}

Call::~Call() { LeaveCriticalSection(CallLock()); }

HRESULT Call::Finish(HRESULT hr, nlohmann::json out, const char* note) {
  nlohmann::json line = {{"op", OpName(op_)}, {"call", action_.call}, {"args", args_}, {"hresult", HresultText(hr)}};
  if (SUCCEEDED(hr)) line["out"] = std::move(out);
  // The journal says when the bench answered, success codes included.
  if (action_.by_fault) line["fault"] = "hresult";
  if (action_.kind == CallAction::Kind::kNoReference) line["fault"] = "no_reference";
  if (note) line["note"] = note;
  JournalWrite(std::move(line));
  return hr;
}

HRESULT PlaceholderCall(const char* name) {
  EnterCriticalSection(CallLock());
  NoteCallingClient();
  JournalWrite({{"op", name}, {"hresult", HresultText(E_NOTIMPL)}});
  LeaveCriticalSection(CallLock());
  return E_NOTIMPL;
}
