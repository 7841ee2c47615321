#ifndef K27_SIM_SERVER_STATE_H_
#define K27_SIM_SERVER_STATE_H_

// What one simulator process holds: the bench it plays, the objects alive,
// and what every call goes through.

#include <windows.h>

#include <nlohmann/json.hpp>

#include <string>

#include "bench/bench.h"
#include "bench/call_plan.h"
#include "lib/com_text.h"
#include "sessions.h"

struct ServerState {
  Bench bench;
  bool bench_ok = false;
  std::string bench_error;
  std::string bench_sha256;  // of the bench's text, as UTF-8
  std::wstring bench_path;   // empty: the built-in bench
  // The bench is shared: one process for every creation, with a memory of
  // what runs did (a run per creation, sessions.h; bench_memory.h).
  bool shared = false;
  // Counts the creations, and calls on objects no run owns.
  CallPlan plan{bench};
  // Why every creation is refused (DecideServing); empty: it serves.
  std::string refusal;
};

ServerState& State();

// Loads the bench file (a full Windows path), or the built-in bench when
// none is named; a bench that cannot be read is remembered as an error and
// creation then fails.
void LoadBench(const std::wstring& path);

// COM objects alive, and class-factory locks. The server ends itself once
// all are gone after the first creation.
void ObjectCreated();
void ObjectDestroyed();
HANDLE AllReleasedEvent();
bool AnyObjectCreated();
// Set once a creation was refused for State().refusal: the server then ends.
HANDLE RefusedEvent();

// Creations being answered now, and when the last one was answered (tick
// count, 0 for none yet): a shared server does not end under one.
long CreationsInProgress();
ULONGLONG LastCreationAnswered();
class CreationInProgress {
 public:
  CreationInProgress();
  ~CreationInProgress();
  CreationInProgress(const CreationInProgress&) = delete;
  CreationInProgress& operator=(const CreationInProgress&) = delete;
};

// One server call of a run (none for the creation itself): counts it,
// takes time, journals it, or ends the process inside it, as the bench
// says. Calls of several runs are served at once; no lock is held while a
// call takes its time.
class Call {
 public:
  Call(Op op, nlohmann::json args, Session* session);
  ~Call();
  Call(const Call&) = delete;
  Call& operator=(const Call&) = delete;

  const CallAction& action() const { return action_; }
  bool Failing() const { return action_.kind == CallAction::Kind::kFail; }
  bool NoReference() const { return action_.kind == CallAction::Kind::kNoReference; }
  // The code a normal answer returns: S_OK, or the success code scripted.
  HRESULT AnswerCode() const { return action_.hresult; }
  // Shared bench: the process behind a creation, handed to the run it
  // starts (which then owns it).
  HANDLE TakeCreator();
  // The run a creation started.
  void BelongsTo(Session* session) { session_ = session; }
  // Something to add to the call's journal line.
  void Note(const char* key, nlohmann::json value) { extra_[key] = std::move(value); }

  // Journals the answer and returns hr.
  HRESULT Finish(HRESULT hr, nlohmann::json out = nlohmann::json::object(), const char* note = nullptr);

 private:
  Op op_;
  nlohmann::json args_;
  Session* session_;
  CallAction action_;
  HANDLE creator_ = nullptr;
  unsigned long caller_pid_ = 0;
  nlohmann::json extra_ = nlohmann::json::object();
};

// A call to a placeholder slot: journaled, refused with E_NOTIMPL.
HRESULT PlaceholderCall(const char* name, Session* session);

#endif  // K27_SIM_SERVER_STATE_H_
