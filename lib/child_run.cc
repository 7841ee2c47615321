#include "lib/child_run.h"

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "lib/arguments.h"

namespace {

std::string LastError(const char* what) { return std::string(what) + " failed (error " + std::to_string(GetLastError()) + ")"; }

// Handles are made inheritable, handed to one child and closed again under
// this lock: a child started meanwhile by another thread would inherit them
// too, and hold a pipe open after its own program has ended.
std::mutex g_inheritance;

// Starts the program with no console, its standard handles those given and
// no other handle of this process (a standard handle of the kit's own, say,
// which would keep a pipe it writes to open past the kit's end).
// No console: the tool's key read then reports end of input and the run ends
// with its status, as on a PC with no operator. A start that the system
// itself fails on the way (ERROR_INTERNAL_ERROR: seen under Wine about once
// in some hundred starts, never with the program's own code running) is
// tried again; the program has done nothing by then.
bool StartDetached(const std::wstring& program, const std::wstring& folder, HANDLE in, HANDLE out, DWORD flags,
                   PROCESS_INFORMATION& process) {
  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof startup;
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  startup.StartupInfo.hStdInput = in;
  startup.StartupInfo.hStdOutput = out;
  startup.StartupInfo.hStdError = out;
  HANDLE inherited[2] = {in, out};
  SIZE_T size = 0;
  InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
  std::vector<uint64_t> list(size / sizeof(uint64_t) + 1);
  startup.lpAttributeList = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(list.data());
  if (!InitializeProcThreadAttributeList(startup.lpAttributeList, 1, 0, &size)) return false;
  const bool listed = UpdateProcThreadAttribute(startup.lpAttributeList, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                                inherited, sizeof inherited, nullptr, nullptr);
  std::wstring command_line = QuoteArgument(program);
  BOOL created = FALSE;
  DWORD create_error = 0;
  for (int attempt = 0; listed && attempt < 3; ++attempt) {
    created = CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, TRUE,
                             DETACHED_PROCESS | CREATE_UNICODE_ENVIRONMENT | EXTENDED_STARTUPINFO_PRESENT | flags,
                             nullptr, folder.empty() ? nullptr : folder.c_str(), &startup.StartupInfo, &process);
    create_error = GetLastError();
    if (created || create_error != ERROR_INTERNAL_ERROR) break;
    Sleep(200);
  }
  if (!listed) create_error = GetLastError();
  DeleteProcThreadAttributeList(startup.lpAttributeList);
  SetLastError(create_error);
  return created;
}

}  // namespace

int64_t UtcNowMs() {
  FILETIME now;
  GetSystemTimePreciseAsFileTime(&now);
  return static_cast<int64_t>(((static_cast<uint64_t>(now.dwHighDateTime) << 32 | now.dwLowDateTime) / 10000) -
                              11644473600000ULL);
}

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
  PROCESS_INFORMATION process{};
  {
    std::lock_guard<std::mutex> held(g_inheritance);
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
    child.began = GetTickCount64();
    const bool created = StartDetached(program, folder, read_end, out, suspended ? CREATE_SUSPENDED : 0, process);
    if (!created) run.error = LastError("starting the program");
    CloseHandle(read_end);
    CloseHandle(out);
    if (!created) {
      CloseHandle(write_end);
      return child;
    }
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
    run.stopped_ms = UtcNowMs();
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

PipedChild StartPiped(const std::wstring& program) {
  PipedChild child;
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE in_read = nullptr, out_write = nullptr;
  std::lock_guard<std::mutex> held(g_inheritance);
  if (!CreatePipe(&in_read, &child.input, &inherit, 0)) {
    child.error = LastError("CreatePipe");
    return child;
  }
  if (!CreatePipe(&child.output, &out_write, &inherit, 1 << 16)) {
    child.error = LastError("CreatePipe");
    CloseHandle(in_read);
    CloseHandle(child.input);
    child.input = nullptr;
    return child;
  }
  // The station's own ends stay its own.
  SetHandleInformation(child.input, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(child.output, HANDLE_FLAG_INHERIT, 0);
  // A process group of its own as well, so that no console event the
  // station gets ever reaches it. Where the station runs in a job that
  // would end its processes with it (some remote shells), the child leaves
  // the job when the job allows it.
  BOOL in_job = FALSE;
  IsProcessInJob(GetCurrentProcess(), nullptr, &in_job);
  PROCESS_INFORMATION process{};
  bool created = in_job && StartDetached(program, {}, in_read, out_write,
                                         CREATE_NEW_PROCESS_GROUP | CREATE_BREAKAWAY_FROM_JOB, process);
  if (!created) created = StartDetached(program, {}, in_read, out_write, CREATE_NEW_PROCESS_GROUP, process);
  if (!created) child.error = LastError("starting the program");
  CloseHandle(in_read);
  CloseHandle(out_write);
  if (!created) {
    CloseHandle(child.input);
    CloseHandle(child.output);
    child.input = child.output = nullptr;
    return child;
  }
  CloseHandle(process.hThread);
  child.started = true;
  child.process = process.hProcess;
  child.pid = process.dwProcessId;
  return child;
}

bool ChildrenEndWithThisProcess() {
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  BOOL in_job = FALSE;
  if (!IsProcessInJob(GetCurrentProcess(), nullptr, &in_job) || !in_job ||
      !QueryInformationJobObject(nullptr, JobObjectExtendedLimitInformation, &limits, sizeof limits, nullptr))
    return false;
  const DWORD flags = limits.BasicLimitInformation.LimitFlags;
  return (flags & JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE) &&
         !(flags & (JOB_OBJECT_LIMIT_BREAKAWAY_OK | JOB_OBJECT_LIMIT_SILENT_BREAKAWAY_OK));
}

size_t ReadAvailable(HANDLE pipe, std::string& into) {
  size_t total = 0;
  for (;;) {
    DWORD available = 0;
    if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) || available == 0) return total;
    char buffer[4096];
    DWORD got = 0;
    if (!ReadFile(pipe, buffer, available < sizeof buffer ? available : sizeof buffer, &got, nullptr) || got == 0)
      return total;
    into.append(buffer, got);
    total += got;
  }
}
