#include "shared_server.h"

#include <objbase.h>

#include <algorithm>
#include <vector>

#include "bench/bench_state.h"
#include "bench_memory.h"
#include "journal.h"
#include "k27server.h"
#include "lib/com_text.h"
#include "lib/long_path.h"
#include "lib/wide_text.h"
#include "server_objects.h"
#include "server_state.h"
#include "sessions.h"

namespace {

[[noreturn]] void End(HANDLE lock, const char* reason, nlohmann::json more = nlohmann::json::object()) {
  nlohmann::json line = {{"op", "Exit"}, {"reason", reason}};
  for (auto& [key, value] : more.items()) line[key] = value;
  JournalWrite(std::move(line));
  // The next server of this bench may start playing it from here on: the
  // state file is as this one left it.
  if (lock) ReleaseMutex(lock);
  // Lets the reply to the client's last release leave before the process goes.
  Sleep(100);
  ExitProcess(0);
}

// The one server process that plays this bench: the lock's owner. Another
// one started meanwhile (two clients created the server at the same moment
// and COM started one for each) waits a little, as the one playing may be
// ending, and otherwise ends without registering anything: its client is
// given the playing server's class object by COM.
HANDLE TakeTheBench(const std::wstring& state_path) {
  const std::wstring key = FullPath(state_path.empty() ? State().bench_path : state_path);
  HANDLE lock = CreateMutexW(nullptr, FALSE, SharedBenchLockName(key).c_str());
  if (!lock) return nullptr;
  const DWORD got = WaitForSingleObject(lock, kSharedTakeOverWaitMs);
  // Abandoned: its last owner was killed; the state file is whole all the same.
  if (got == WAIT_OBJECT_0 || got == WAIT_ABANDONED) return lock;
  CloseHandle(lock);
  return nullptr;
}

}  // namespace

void ServeShared(nlohmann::json start, const std::wstring& state_path) {
  start["shared"] = true;
  start["state"] = state_path.empty() ? nlohmann::json(nullptr) : nlohmann::json(Utf8(state_path));
  HANDLE lock = TakeTheBench(state_path);
  if (!lock) {
    JournalWrite(start);
    End(nullptr, "another server plays this bench");
  }
  std::string error;
  if (!StartMemory(state_path, error)) {
    State().bench_ok = false;
    State().bench_error = error;
    start["error"] = error;
  }
  JournalWrite(start);

  if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) End(lock, "COM could not be initialised");
  HoldInterfaces();
  DWORD cookie = 0;
  // Many uses: while this process runs, COM gives it every creation.
  const HRESULT hr = CoRegisterClassObject(CLSID_DeviceServerClass, ServerFactory(), CLSCTX_LOCAL_SERVER,
                                           REGCLS_MULTIPLEUSE, &cookie);
  if (FAILED(hr)) End(lock, "class registration failed", {{"hresult", HresultText(hr)}});

  const ULONGLONG started = GetTickCount64();
  bool registered = true;
  const char* reason = "idle";
  for (;;) {
    const std::vector<WatchedRun> runs = RunsToWatch();
    const bool busy = LiveSessions() > 0 || CreationsInProgress() > 0;
    DWORD timeout = INFINITE;
    if (!busy) {
      // Revoked, the last run over: nothing can come any more.
      if (!registered) break;
      const ULONGLONG last = std::max(LastSessionEnded(), LastCreationAnswered());
      const ULONGLONG deadline = last ? last + kSharedLingerMs : started + kSharedFirstCreationWaitMs;
      const ULONGLONG now = GetTickCount64();
      if (now >= deadline) {
        reason = last ? "idle" : "never created";
        // A creation that COM handed over just before the class went is
        // still served; none comes after it.
        CoRevokeClassObject(cookie);
        registered = false;
        continue;
      }
      timeout = static_cast<DWORD>(deadline - now);
    }
    std::vector<HANDLE> waits = {SessionsChangedEvent()};
    if (registered) waits.push_back(RefusedEvent());
    const size_t first_run = waits.size();
    for (const WatchedRun& run : runs) waits.push_back(run.process);
    const DWORD woke = WaitForMultipleObjects(static_cast<DWORD>(waits.size()), waits.data(), FALSE, timeout);
    if (woke == WAIT_FAILED) {
      reason = "wait failed";
      break;
    }
    if (registered && woke == WAIT_OBJECT_0 + 1) {
      reason = "refused";
      CoRevokeClassObject(cookie);
      registered = false;
    } else if (woke >= WAIT_OBJECT_0 + first_run && woke < WAIT_OBJECT_0 + waits.size()) {
      RunWatchSaw(runs[woke - WAIT_OBJECT_0 - first_run]);
    }
  }
  if (registered) CoRevokeClassObject(cookie);
  End(lock, reason);
}
