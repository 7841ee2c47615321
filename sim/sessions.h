#ifndef K27_SIM_SESSIONS_H_
#define K27_SIM_SESSIONS_H_

// Runs: each creation of the device server object starts one, and every
// object handed out from it (the device, its code programming) belongs to
// it. A run counts its own calls (its call plan) and knows the device whose
// identities it asked for last. On a shared bench it also has a client
// process, learnt from its first call and watched, and holds programming
// groups; it ends when its objects are all released or its client is gone,
// and its groups are free again then.

#include <windows.h>

#include <nlohmann/json.hpp>

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "bench/call_plan.h"

struct Session {
  explicit Session(const Bench& bench) : plan(bench) {}
  uint32_t id = 0;  // from 1, in the order of the creations
  SRWLOCK lock = SRWLOCK_INIT;
  CallPlan plan;
  int identities_device = -1;
  // Shared bench only.
  HANDLE creator = nullptr;  // the process behind the creation, until the client is known
  HANDLE client = nullptr;
  uint32_t client_pid = 0;
  bool client_tried = false;
  std::string group_uuid;  // the UUID of the run's AcquireGroup, once asked
  std::set<uint32_t> groups;  // held
  long objects = 0;
  bool ended = false;
};

// A new run, holding the process behind its creation (or null).
std::shared_ptr<Session> NewSession(HANDLE creator);

// Its objects: one more, one fewer. The last one gone ends it ("released").
void SessionObjectMade(Session& session);
void SessionObjectGone(Session& session);

// Shared bench: from inside a call of the run, learns its client once and
// watches it ("client gone").
void NoteSessionClient(Session& session);

// Shared bench: what a journal line of the run's says of it: its number,
// its client, its group's UUID.
void DescribeSession(Session& session, nlohmann::json& line);

// Shared bench: the device's programming group for the run under `uuid`,
// when no other run holds it. True when the run holds it now.
bool AcquireGroupFor(Session& session, uint32_t group_id, const std::string& uuid);
bool SessionHoldsGroup(Session& session, uint32_t group_id);

// Shared bench: the process each run's watch waits on (its client, or the
// process behind its creation until the client is known), for the server's
// main thread, which alone waits on them. Handles of runs that ended are
// closed here. At most kMostRunsWatched runs at once are watched; the
// others still end when they let go of their objects.
struct WatchedRun {
  std::shared_ptr<Session> session;
  HANDLE process;
  const char* reason;  // what ends the run when the process is gone
};
constexpr size_t kMostRunsWatched = MAXIMUM_WAIT_OBJECTS - 2;
std::vector<WatchedRun> RunsToWatch();
// The watched process is gone: the run ends.
void RunWatchSaw(const WatchedRun& run);

// Shared bench: runs not yet ended; when the last of them ended (tick
// count, 0 for none yet); and an event set whenever a run starts or ends.
long LiveSessions();
ULONGLONG LastSessionEnded();
HANDLE SessionsChangedEvent();

#endif  // K27_SIM_SESSIONS_H_
