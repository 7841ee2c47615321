#ifndef K27_SIM_SERVER_STATE_H_
#define K27_SIM_SERVER_STATE_H_

// What one simulator process holds: the bench it plays, the call plan, the
// objects alive, and the guard every call runs under.

#include <windows.h>

#include <nlohmann/json.hpp>

#include <string>

#include "bench/bench.h"
#include "bench/call_plan.h"
#include "lib/com_text.h"

struct ServerState {
  Bench bench;
  bool bench_ok = false;
  std::string bench_error;
  CallPlan plan{bench};
  // The device whose identities were asked for last: the names belong to it.
  int identities_device = -1;
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

// One server call: counts it, takes time, journals it, or ends the process
// inside it, as the bench says. Calls run one at a time.
class Call {
 public:
  Call(Op op, nlohmann::json args);
  ~Call();
  Call(const Call&) = delete;
  Call& operator=(const Call&) = delete;

  const CallAction& action() const { return action_; }
  bool Failing() const { return action_.kind == CallAction::Kind::kFail; }
  bool NoReference() const { return action_.kind == CallAction::Kind::kNoReference; }
  // The code a normal answer returns: S_OK, or the success code scripted.
  HRESULT AnswerCode() const { return action_.hresult; }

  // Journals the answer and returns hr.
  HRESULT Finish(HRESULT hr, nlohmann::json out = nlohmann::json::object(), const char* note = nullptr);

 private:
  Op op_;
  nlohmann::json args_;
  CallAction action_;
};

// A call to a placeholder slot: journaled, refused with E_NOTIMPL.
HRESULT PlaceholderCall(const char* name);

#endif  // K27_SIM_SERVER_STATE_H_
