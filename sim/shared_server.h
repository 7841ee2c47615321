#ifndef K27_SIM_SHARED_SERVER_H_
#define K27_SIM_SHARED_SERVER_H_

// A shared bench's server: one process plays the bench for every creation
// while it runs (its class registered for many uses), a run per creation,
// and ends when no run has been in progress for kSharedLingerMs.

#include <windows.h>

#include <nlohmann/json.hpp>

#include <string>

// Time a shared server waits, with no run in progress, for another before it ends.
constexpr DWORD kSharedLingerMs = 1000;
// Time it waits for its first creation.
constexpr DWORD kSharedFirstCreationWaitMs = 10000;
// Time a server started for a bench that another process plays waits for
// that one to end before it ends itself, unused.
constexpr DWORD kSharedTakeOverWaitMs = 2000;

// Serves the loaded shared bench, remembering its devices in `state_path`
// (empty: in this process only); `start` is the journal's Start line so far.
// Never returns.
[[noreturn]] void ServeShared(nlohmann::json start, const std::wstring& state_path);

#endif  // K27_SIM_SHARED_SERVER_H_
