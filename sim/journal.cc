#include "journal.h"

#include <windows.h>

#include <algorithm>

#include "lib/long_path.h"
#include "lib/wide_text.h"

namespace {

std::wstring g_path;  // as the Windows file calls take it, at any length
std::wstring g_folder;  // with its trailing separator
uint32_t g_sequence = 0;
// Numbers and writes each line whole: calls served at once never share a
// line, and the numbers follow the order the lines are written in.
SRWLOCK g_lock = SRWLOCK_INIT;

bool WriteAll(HANDLE file, const void* data, size_t size) {
  const char* bytes = static_cast<const char*>(data);
  size_t done = 0;
  while (done < size) {
    DWORD wrote = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(size - done, 1u << 20));
    if (!WriteFile(file, bytes + done, chunk, &wrote, nullptr) || wrote == 0) return false;
    done += wrote;
  }
  return true;
}

}  // namespace

void OpenJournal(const std::wstring& path) {
  g_path = path;
  const size_t slash = path.find_last_of(L"\\/");
  g_folder = slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
  if (!g_path.empty()) g_path = PathForFileCalls(g_path);
}

static bool JournalOn() { return !g_path.empty(); }

void JournalWrite(nlohmann::json line) {
  if (!JournalOn()) return;
  AcquireSRWLockExclusive(&g_lock);
  line["pid"] = GetCurrentProcessId();
  line["seq"] = ++g_sequence;
  // Milliseconds since 1970 (UTC): lines of several processes, and what the
  // kit did meanwhile, can be put in order.
  FILETIME now;
  GetSystemTimePreciseAsFileTime(&now);
  const uint64_t ticks = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  line["ms"] = static_cast<int64_t>(ticks / 10000 - 11644473600000ULL);
  // One append per line, opened and closed each time: a line is on disk
  // before the next call, even when the process ends itself right after.
  const std::string text = line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
  HANDLE file = CreateFileW(g_path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    WriteAll(file, text.data(), text.size());
    CloseHandle(file);
  }
  ReleaseSRWLockExclusive(&g_lock);
}

std::string JournalDump(const std::string& op, const uint8_t* data, size_t size) {
  if (!JournalOn()) return {};
  // A fresh name every time, also when several server processes share one
  // journal folder.
  for (uint32_t n = 1; n < 100000; ++n) {
    const std::string name = op + "-" + std::to_string(n) + ".bin";
    HANDLE file = CreateFileW(PathForFileCalls(g_folder + Wide(name)).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      if (GetLastError() == ERROR_FILE_EXISTS || GetLastError() == ERROR_ALREADY_EXISTS) continue;
      return {};
    }
    const bool ok = WriteAll(file, data, size);
    CloseHandle(file);
    return ok ? name : std::string();
  }
  return {};
}
