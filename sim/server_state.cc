#include "server_state.h"

#include <cstdio>
#include <vector>

#include "bench/bench_file.h"
#include "client_watch.h"
#include "journal.h"
#include "bench/bench_state.h"
#include "lib/wide_text.h"

namespace {

volatile LONG g_objects = 0;
volatile LONG g_created = 0;
volatile LONG g_creating = 0;
volatile LONG64 g_last_creation = 0;
// The process-wide plan (creations) is counted under this lock; a run's
// under its own.
SRWLOCK g_plan_lock = SRWLOCK_INIT;

}  // namespace

ServerState& State() {
  static ServerState state;
  return state;
}

void LoadBench(const std::wstring& named) {
  ServerState& s = State();
  s.bench_path = named;
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
    s.shared = s.bench.shared;
    s.bench_sha256 = BenchSha256(text);
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

CreationInProgress::CreationInProgress() { InterlockedIncrement(&g_creating); }

CreationInProgress::~CreationInProgress() {
  InterlockedExchange64(&g_last_creation, static_cast<LONG64>(GetTickCount64()));
  InterlockedDecrement(&g_creating);
  SetEvent(SessionsChangedEvent());
}

long CreationsInProgress() { return g_creating; }

ULONGLONG LastCreationAnswered() { return static_cast<ULONGLONG>(g_last_creation); }

Call::Call(Op op, nlohmann::json args, Session* session) : op_(op), args_(std::move(args)), session_(session) {
  const bool shared = State().shared;
  if (op == Op::kCreateInstance) {
    // On Windows the COM service makes the creation on the client's behalf:
    // the client is the process behind the calls on the objects handed out.
    if (shared) {
      RPC_STATUS status = RPC_S_OK;
      creator_ = OpenCallingProcess(status, caller_pid_);
    } else {
      NoteCreatingProcess();
    }
  } else if (session && shared) {
    NoteSessionClient(*session);
  } else {
    NoteCallingClient();
  }
  SRWLOCK& lock = session && op != Op::kCreateInstance ? session->lock : g_plan_lock;
  AcquireSRWLockExclusive(&lock);
  action_ = session && op != Op::kCreateInstance ? session->plan.Next(op) : State().plan.Next(op);
  ReleaseSRWLockExclusive(&lock);
  if (action_.delay_ms) Sleep(action_.delay_ms);
  if (action_.kind == CallAction::Kind::kCrash) {
    nlohmann::json line = {{"op", OpName(op_)}, {"call", action_.call}, {"args", args_}, {"crash", true}};
    if (shared && session) DescribeSession(*session, line);
    JournalWrite(std::move(line));
    // The server dies inside the call: the client sees the call fail.
    ExitProcess(3);
  }
}

Call::~Call() {
  if (creator_) CloseHandle(creator_);
}

HANDLE Call::TakeCreator() {
  HANDLE creator = creator_;
  creator_ = nullptr;
  return creator;
}

HRESULT Call::Finish(HRESULT hr, nlohmann::json out, const char* note) {
  nlohmann::json line = {{"op", OpName(op_)}, {"call", action_.call}, {"args", args_}, {"hresult", HresultText(hr)}};
  if (SUCCEEDED(hr)) line["out"] = std::move(out);
  // The journal says when the bench answered, success codes included.
  if (action_.by_fault) line["fault"] = "hresult";
  if (action_.kind == CallAction::Kind::kNoReference) line["fault"] = "no_reference";
  if (note) line["note"] = note;
  if (State().shared) {
    if (session_) DescribeSession(*session_, line);
    // Under Wine the client itself; on Windows the COM service.
    if (op_ == Op::kCreateInstance) line["caller_pid"] = caller_pid_;
  }
  for (auto& [key, value] : extra_.items()) line[key] = value;
  JournalWrite(std::move(line));
  return hr;
}

HRESULT PlaceholderCall(const char* name, Session* session) {
  if (session && State().shared) NoteSessionClient(*session);
  else NoteCallingClient();
  nlohmann::json line = {{"op", name}, {"hresult", HresultText(E_NOTIMPL)}};
  if (session && State().shared) DescribeSession(*session, line);
  JournalWrite(std::move(line));
  return E_NOTIMPL;
}
