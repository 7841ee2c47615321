#include "sessions.h"

#include <map>
#include <vector>

#include "client_watch.h"
#include "journal.h"
#include "server_state.h"

namespace {

// Who holds each programming group: the run, and the UUID it acquired it
// under. Taken only for the table itself, never across a call's delay.
struct Holder {
  Session* session;
  std::string uuid;
};
SRWLOCK g_groups_lock = SRWLOCK_INIT;
std::map<uint32_t, Holder> g_groups;

SRWLOCK g_list_lock = SRWLOCK_INIT;
std::vector<std::shared_ptr<Session>> g_sessions;  // shared bench: not yet let go by the watch
volatile LONG g_next_id = 0;
volatile LONG g_live = 0;
volatile LONG64 g_last_end = 0;

class Locked {
 public:
  explicit Locked(SRWLOCK& lock) : lock_(lock) { AcquireSRWLockExclusive(&lock_); }
  ~Locked() { ReleaseSRWLockExclusive(&lock_); }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;

 private:
  SRWLOCK& lock_;
};

void EndSession(Session& session, const char* reason) {
  std::set<uint32_t> groups;
  uint32_t pid = 0;
  {
    Locked locked(session.lock);
    if (session.ended) return;
    session.ended = true;
    groups.swap(session.groups);
    pid = session.client_pid;
  }
  if (!State().shared) return;
  {
    Locked locked(g_groups_lock);
    for (uint32_t group : groups) {
      auto it = g_groups.find(group);
      if (it != g_groups.end() && it->second.session == &session) g_groups.erase(it);
    }
  }
  nlohmann::json line = {{"op", "RunEnd"}, {"session", session.id}, {"reason", reason},
                         {"groups_released", nlohmann::json(groups)}};
  if (pid) line["client_pid"] = pid;
  JournalWrite(std::move(line));
  InterlockedExchange64(&g_last_end, static_cast<LONG64>(GetTickCount64()));
  InterlockedDecrement(&g_live);
  SetEvent(SessionsChangedEvent());
}

}  // namespace

HANDLE SessionsChangedEvent() {
  static HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  return event;
}

std::shared_ptr<Session> NewSession(HANDLE creator) {
  auto session = std::make_shared<Session>(State().bench);
  session->id = static_cast<uint32_t>(InterlockedIncrement(&g_next_id));
  if (!State().shared) return session;
  session->creator = creator;
  InterlockedIncrement(&g_live);
  {
    Locked locked(g_list_lock);
    g_sessions.push_back(session);
  }
  SetEvent(SessionsChangedEvent());
  return session;
}

void SessionObjectMade(Session& session) {
  Locked locked(session.lock);
  ++session.objects;
}

void SessionObjectGone(Session& session) {
  bool last = false;
  {
    Locked locked(session.lock);
    last = --session.objects == 0;
  }
  if (last) EndSession(session, "released");
}

void NoteSessionClient(Session& session) {
  {
    Locked locked(session.lock);
    if (session.client_tried) return;
    session.client_tried = true;
  }
  RPC_STATUS status = RPC_S_OK;
  unsigned long pid = 0;
  HANDLE process = OpenCallingProcess(status, pid);
  nlohmann::json line = {{"op", "Client"}, {"session", session.id}, {"client_pid", process ? nlohmann::json(pid) : nlohmann::json(nullptr)}};
  if (!process) {
    line["rpc_status"] = status;
    line["reported_pid"] = pid;
  }
  {
    Locked locked(session.lock);
    session.client = process;
    session.client_pid = process ? pid : 0;
  }
  JournalWrite(std::move(line));
  SetEvent(SessionsChangedEvent());
}

void DescribeSession(Session& session, nlohmann::json& line) {
  Locked locked(session.lock);
  line["session"] = session.id;
  if (session.client_pid) line["client_pid"] = session.client_pid;
  if (!session.group_uuid.empty()) line["group_uuid"] = session.group_uuid;
}

bool AcquireGroupFor(Session& session, uint32_t group_id, const std::string& uuid) {
  {
    Locked locked(g_groups_lock);
    auto it = g_groups.find(group_id);
    if (it != g_groups.end() && it->second.uuid != uuid) return false;
    g_groups[group_id] = Holder{&session, uuid};
  }
  Locked locked(session.lock);
  session.groups.insert(group_id);
  return true;
}

bool SessionHoldsGroup(Session& session, uint32_t group_id) {
  Locked locked(g_groups_lock);
  auto it = g_groups.find(group_id);
  return it != g_groups.end() && it->second.session == &session;
}

long LiveSessions() { return g_live; }

ULONGLONG LastSessionEnded() { return static_cast<ULONGLONG>(g_last_end); }

std::vector<WatchedRun> RunsToWatch() {
  std::vector<WatchedRun> watched;
  Locked locked(g_list_lock);
  for (auto it = g_sessions.begin(); it != g_sessions.end();) {
    Session& s = **it;
    AcquireSRWLockExclusive(&s.lock);
    // The watch is not waiting now: handles it no longer needs can go.
    if (s.ended || s.client) {
      if (s.creator) CloseHandle(s.creator);
      s.creator = nullptr;
    }
    if (s.ended && s.client) {
      CloseHandle(s.client);
      s.client = nullptr;
    }
    const bool drop = s.ended;
    if (!drop && (s.client || s.creator) && watched.size() < kMostRunsWatched) {
      watched.push_back({*it, s.client ? s.client : s.creator, s.client ? "client gone" : "creator gone"});
    }
    ReleaseSRWLockExclusive(&s.lock);
    it = drop ? g_sessions.erase(it) : it + 1;
  }
  return watched;
}

void RunWatchSaw(const WatchedRun& run) { EndSession(*run.session, run.reason); }
