#include "lib/child_run.h"

#include <algorithm>
#include <string>

#include "lib/arguments.h"

namespace {

std::string LastError(const char* what) { return std::string(what) + " failed (error " + std::to_string(GetLastError()) + ")"; }

}  // namespace

ChildRun RunProgram(const std::wstring& program, const std::wstring& folder, const std::optional<std::string>& typed,
                    const std::wstring& output, int timeout_s, HANDLE cancel) {
  StartedChild child = StartProgram(program, folder, typed, output);
  if (!child.run.started) return child.run;
  return AwaitProgram(child, timeout_s, cancel);
}

void ResumeProgram(StartedChild& child) {
  if (!child.thread) return;
  child.began = GetTickCount64();
  ResumeThread(child.thread);
  CloseHandle(child.thread);
  child.thread = nullptr;
}

StartedChild StartProgram(const std::wstring& program, const std::wstring& folder,
                          const std::optional<std::string>& typed, const std::wstring& output, bool suspended) {
  StartedChild child;
  ChildRun& run = child.run;
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE read_end = nullptr, write_end = nullptr;
  if (!CreatePipe(&read_end, &write_end, &inherit, 0)) {
    run.error = LastError("CreatePipe");
    return child;
  }
  // Only the child's end is inherited.
  SetHandleInformation(write_end, HANDLE_FLAG_INHERIT, 0);
  HANDLE out = CreateFileW(output.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) {
    run.error = LastError("creating the transcript file");
    CloseHandle(read_end);
    CloseHandle(write_end);
    return child;
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = read_end;
  startup.hStdOutput = out;
  startup.hStdError = out;
  PROCESS_INFORMATION process{};
  std::wstring command_line = QuoteArgument(program);
  child.began = GetTickCount64();
  // No console: the tool's key read then reports end of input and the run
  // ends with its status, as on a PC with no operator. A start that the
  // system itself fails on the way (ERROR_INTERNAL_ERROR: seen under Wine
  // about once in some hundred starts, never with the program's own code
  // running) is tried again; the program has done nothing by then.
  BOOL created = FALSE;
  DWORD create_error = 0;
  for (int attempt = 0; attempt < 3; ++attempt) {
    created = CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, TRUE,
                             DETACHED_PROCESS | CREATE_UNICODE_ENVIRONMENT | (suspended ? CREATE_SUSPENDED : 0),
                             nullptr, folder.c_str(), &startup, &process);
    create_error = GetLastError();
    if (created || create_error != ERROR_INTERNAL_ERROR) break;
    Sleep(200);
  }
  CloseHandle(read_end);
  CloseHandle(out);
  if (!created) {
    CloseHandle(write_end);
    SetLastError(create_error);
    run.error = LastError("starting the program");
    return child;
  }
  run.started = true;
  run.pid = process.dwProcessId;
  child.process = process.hProcess;
  if (suspended) child.thread = process.hThread;
  else CloseHandle(process.hThread);
  if (typed) {
    const std::string line = *typed + "\r\n";
    DWORD wrote = 0;
    WriteFile(write_end, line.data(), static_cast<DWORD>(line.size()), &wrote, nullptr);
  }
  // The end of input: nothing more is typed.
  CloseHandle(write_end);
  return child;
}

ChildRun AwaitProgram(StartedChild& child, int timeout_s, HANDLE cancel, const std::function<bool()>& stop_now) {
  ResumeProgram(child);
  ChildRun& run = child.run;
  HANDLE waits[2] = {child.process, cancel};
  const ULONGLONG deadline = child.began + static_cast<ULONGLONG>(timeout_s) * 1000;
  DWORD woke = WAIT_TIMEOUT;
  for (;;) {
    const ULONGLONG now = GetTickCount64();
    DWORD wait = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
    if (stop_now) wait = std::min<DWORD>(wait, 20);
    woke = WaitForMultipleObjects(cancel ? 2 : 1, waits, FALSE, wait);
    if (woke != WAIT_TIMEOUT || GetTickCount64() >= deadline) break;
    if (stop_now && stop_now()) {
      run.stopped = true;
      break;
    }
  }
  if (woke != WAIT_OBJECT_0) {
    run.timed_out = woke == WAIT_TIMEOUT && !run.stopped;
    run.cancelled = woke == WAIT_OBJECT_0 + 1;
    FILETIME now;
    GetSystemTimePreciseAsFileTime(&now);
    run.stopped_ms =
        static_cast<int64_t>(((static_cast<uint64_t>(now.dwHighDateTime) << 32 | now.dwLowDateTime) / 10000) -
                             11644473600000ULL);
    TerminateProcess(child.process, 1);
    WaitForSingleObject(child.process, 5000);
  }
  DWORD code = 0;
  GetExitCodeProcess(child.process, &code);
  run.exit_code = code;
  CloseHandle(child.process);
  child.process = nullptr;
  run.seconds = static_cast<double>(GetTickCount64() - child.began) / 1000.0;
  return run;
}
