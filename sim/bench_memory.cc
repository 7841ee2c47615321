#include "bench_memory.h"

#include <memory>
#include <vector>

#include "lib/file_bytes.h"
#include "lib/long_path.h"
#include "lib/reject.h"
#include "lib/wide_text.h"
#include "server_state.h"

namespace {

std::wstring g_path;
BenchState g_state;
std::unique_ptr<SRWLOCK[]> g_device_locks;
SRWLOCK g_file_lock = SRWLOCK_INIT;

int64_t NowMs() {
  FILETIME now;
  GetSystemTimePreciseAsFileTime(&now);
  const uint64_t ticks = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return static_cast<int64_t>(ticks / 10000 - 11644473600000ULL);
}

std::string LastErrorText(const char* what) { return std::string(what) + " failed (error " + std::to_string(GetLastError()) + ")"; }

// A new file beside the old one, on the disk before it takes the old one's
// name in one step.
std::string WriteWhole(const std::wstring& path, const std::string& text) {
  const std::wstring temporary = path + L".tmp";
  HANDLE file = CreateFileW(PathForFileCalls(temporary).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return LastErrorText("creating the state file's new copy");
  DWORD wrote = 0;
  const bool written = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &wrote, nullptr) &&
                       wrote == text.size() && FlushFileBuffers(file);
  const std::string write_error = written ? "" : LastErrorText("writing the state file's new copy");
  CloseHandle(file);
  if (!written) return write_error;
  if (!MoveFileExW(PathForFileCalls(temporary).c_str(), PathForFileCalls(path).c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return LastErrorText("replacing the state file");
  return "";
}

std::string SaveState() {
  if (g_path.empty()) return "";
  AcquireSRWLockExclusive(&g_file_lock);
  // Every change made before this write began is in it.
  BenchState snapshot;
  snapshot.bench_sha256 = g_state.bench_sha256;
  for (size_t i = 0; i < g_state.devices.size(); ++i) {
    AcquireSRWLockShared(&g_device_locks[i]);
    snapshot.devices.push_back(g_state.devices[i]);
    ReleaseSRWLockShared(&g_device_locks[i]);
  }
  const ServerState& s = State();
  const std::string text = StateText(snapshot, s.bench, Utf8(s.bench_path), NowMs());
  const std::string error = WriteWhole(g_path, text);
  ReleaseSRWLockExclusive(&g_file_lock);
  return error;
}

}  // namespace

bool StartMemory(const std::wstring& state_path, std::string& error) {
  const ServerState& s = State();
  g_path = state_path;
  g_state = FreshState(s.bench, s.bench_sha256);
  g_device_locks = std::make_unique<SRWLOCK[]>(s.bench.devices.size());
  for (size_t i = 0; i < s.bench.devices.size(); ++i) InitializeSRWLock(&g_device_locks[i]);
  if (state_path.empty()) return true;
  const DWORD attributes = GetFileAttributesW(PathForFileCalls(state_path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES &&
      (GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND))
    return true;  // no run has changed a device yet
  std::vector<uint8_t> bytes;
  std::string read_error;
  const std::string where = Utf8(state_path) + ": ";
  const std::string remedy = " (it is left as it is; k27kit state \"" + Utf8(state_path) +
                             "\" --reset puts the bench back to its start)";
  if (!ReadFileBytes(std::filesystem::path(state_path), bytes, read_error))
    return Reject(error, where + "the state file cannot be read: " + read_error + remedy);
  const StateReading reading =
      ParseState(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), s.bench, s.bench_sha256,
                 g_state);
  switch (reading.problem) {
    case StateProblem::kNone:
      return true;
    case StateProblem::kDamaged:
      return Reject(error, where + "a damaged state file: " + reading.detail + remedy);
    case StateProblem::kOtherBench:
      error = where + "the state file of another bench (SHA-256 " + reading.detail + "), not of this one (SHA-256 " +
              s.bench_sha256 + ")" + remedy;
      return false;
  }
  return false;
}

Bench RememberedBench() {
  Bench bench = State().bench;
  for (size_t i = 0; i < bench.devices.size() && i < g_state.devices.size(); ++i) {
    AcquireSRWLockShared(&g_device_locks[i]);
    bench.devices[i] = RememberedDevice(bench.devices[i], g_state.devices[i]);
    ReleaseSRWLockShared(&g_device_locks[i]);
  }
  return bench;
}

std::string ChangeDevice(size_t device, Session& session, Op op, const std::function<bool(DeviceMemory&)>& change) {
  if (device >= g_state.devices.size()) return "";
  DeviceChange who{OpName(op), session.id, 0, "", NowMs()};
  AcquireSRWLockShared(&session.lock);
  who.client_pid = session.client_pid;
  who.group_uuid = session.group_uuid;
  ReleaseSRWLockShared(&session.lock);
  AcquireSRWLockExclusive(&g_device_locks[device]);
  DeviceMemory& memory = g_state.devices[device];
  const bool changed = change(memory);
  if (changed) {
    ++memory.changes;
    memory.last = std::move(who);
  }
  ReleaseSRWLockExclusive(&g_device_locks[device]);
  return changed ? SaveState() : "";
}
