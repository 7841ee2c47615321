// k27sim: the bench simulator, a COM local server that stands in for the
// device server. COM starts it once per creation; it plays the bench named
// by K27SIM_BENCH (or its own), journals every call to K27SIM_JOURNAL, and
// ends itself when its client has let go of everything or is gone.
//
//   k27sim -Embedding            as COM starts it
//   k27sim -check FILE           checks a bench file and says what is wrong
//   k27sim -print-default-bench  prints the built-in bench

#include <windows.h>
#include <objbase.h>
#include <tlhelp32.h>

#include <cstdio>
#include <string>

#include "bench.h"
#include "host_path.h"
#include "journal.h"
#include "server_objects.h"
#include "server_state.h"

namespace {

// Time to wait for the one creation COM started the server for.
constexpr DWORD kFirstCreationWaitMs = 30000;

// The process that started this one: COM starts a local server from its
// client's process.
HANDLE OpenParent() {
  const DWORD self = GetCurrentProcessId();
  DWORD parent = 0;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return nullptr;
  PROCESSENTRY32W entry;
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
    if (entry.th32ProcessID == self) parent = entry.th32ParentProcessID;
  }
  CloseHandle(snapshot);
  return parent ? OpenProcess(SYNCHRONIZE, FALSE, parent) : nullptr;
}

int CheckBench(const std::wstring& named) {
  HANDLE file = CreateFileW(HostPath(named).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    std::printf("%s: cannot be read\n", Utf8(named).c_str());
    return 1;
  }
  std::string text;
  char buffer[65536];
  DWORD read = 0;
  while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) text.append(buffer, read);
  CloseHandle(file);
  try {
    const Bench bench = ParseBench(text);
    std::printf("%s: a bench of %u device(s), server version %u.%u\n", Utf8(named).c_str(),
                static_cast<unsigned>(bench.devices.size()), bench.version_major, bench.version_minor);
    return 0;
  } catch (const BenchError& e) {
    std::printf("%s: %s\n", Utf8(named).c_str(), e.what());
    return 1;
  }
}

[[noreturn]] void EndServer(DWORD cookie, const char* reason) {
  CoRevokeClassObject(cookie);
  JournalWrite({{"op", "Exit"}, {"reason", reason}});
  // Lets the reply to the client's last release leave before the process goes.
  Sleep(100);
  ExitProcess(0);
}

int Serve() {
  OpenJournal(HostPath(EnvironmentValue(L"K27SIM_JOURNAL")));
  LoadBench();
  const std::wstring bench = EnvironmentValue(L"K27SIM_BENCH");
  nlohmann::json start = {{"op", "Start"},
                          {"bench", bench.empty() ? nlohmann::json(nullptr) : nlohmann::json(Utf8(bench))},
                          {"command_line", Utf8(GetCommandLineW())}};
  if (!State().bench_ok) start["error"] = State().bench_error;
  JournalWrite(start);
  if (!State().bench_ok) std::fprintf(stderr, "k27sim: %s\n", State().bench_error.c_str());

  if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 2;
  DWORD cookie = 0;
  // Single use: every creation starts a fresh server with its client's
  // environment, and no registration outlives the one creation.
  const HRESULT hr = CoRegisterClassObject(kDeviceServerClsid, ServerFactory(), CLSCTX_LOCAL_SERVER,
                                           REGCLS_SINGLEUSE, &cookie);
  if (FAILED(hr)) {
    JournalWrite({{"op", "Exit"}, {"reason", "class registration failed"}, {"hresult", HresultText(hr)}});
    return 2;
  }
  HANDLE parent = OpenParent();
  HANDLE waits[2] = {AllReleasedEvent(), parent};
  const DWORD count = parent ? 2 : 1;
  for (;;) {
    const DWORD timeout = AnyObjectCreated() ? INFINITE : kFirstCreationWaitMs;
    const DWORD woke = WaitForMultipleObjects(count, waits, FALSE, timeout);
    if (woke == WAIT_OBJECT_0) EndServer(cookie, "released");
    if (woke == WAIT_OBJECT_0 + 1) EndServer(cookie, "client gone");
    if (woke == WAIT_TIMEOUT && !AnyObjectCreated()) EndServer(cookie, "never created");
    if (woke == WAIT_FAILED) EndServer(cookie, "wait failed");
  }
}

}  // namespace

int main() {
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  for (int i = 1; argv && i < argc; ++i) {
    const std::wstring arg = argv[i];
    if ((arg == L"-check" || arg == L"/check") && i + 1 < argc) return CheckBench(argv[i + 1]);
    if (arg == L"-print-default-bench" || arg == L"/print-default-bench") {
      std::fwrite(DefaultBenchText().data(), 1, DefaultBenchText().size(), stdout);
      return 0;
    }
  }
  return Serve();
}
