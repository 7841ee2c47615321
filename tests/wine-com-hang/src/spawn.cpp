// Starts `small.exe` N times with CreateProcessW (as the kit starts the tool,
// and as COM starts a local server) and counts the starts that fail, by
// error code, and the exit codes of those that ran.
//   spawn.exe N PATH-OF-small.exe
#include <windows.h>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  const int n = atoi(argv[1]);
  std::wstring path(argv[2], argv[2] + strlen(argv[2]));
  std::map<DWORD, int> errors, exits;
  for (int i = 0; i < n; ++i) {
    std::wstring cmd = L"\"" + path + L"\"";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    ULONGLONG t0 = GetTickCount64();
    if (!CreateProcessW(path.c_str(), cmd.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr, nullptr, &si,
                        &pi)) {
      DWORD e = GetLastError();
      ++errors[e];
      printf("start %d failed: error %lu after %llu ms\n", i, e, GetTickCount64() - t0);
      fflush(stdout);
      continue;
    }
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    ++exits[code];
    if (code != 0) {
      printf("start %d: exit code 0x%lx\n", i, code);
      fflush(stdout);
    }
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
  }
  printf("starts %d\n", n);
  for (auto& [e, c] : errors) printf("  CreateProcess error %lu: %d\n", e, c);
  for (auto& [e, c] : exits) printf("  exit code 0x%lx: %d\n", e, c);
  return errors.empty() ? 0 : 1;
}
