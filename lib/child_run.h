#ifndef K27_LIB_CHILD_RUN_H_
#define K27_LIB_CHILD_RUN_H_

// One run of the program under qualification, as the kit plays it: in a
// folder of its own, standard input from a pipe (the line typed, then its
// end), standard output and error to a file, no console at all (so the
// final wait for the space key ends at once), and a time limit.

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

struct ChildRun {
  bool started = false;
  std::string error;  // why it could not be started
  uint32_t pid = 0;   // its process id, once started
  bool timed_out = false;
  bool cancelled = false;
  bool stopped = false;  // ended from outside when `stop_now` said so
  int64_t stopped_ms = 0;  // when it was stopped (ms since 1970, UTC); 0 when it ended itself
  uint32_t exit_code = 0;
  double seconds = 0;
};

// `cancel`, when signalled, ends the run at once (the kit was interrupted).
ChildRun RunProgram(const std::wstring& program, const std::wstring& folder, const std::optional<std::string>& typed,
                    const std::wstring& output, int timeout_s, HANDLE cancel);

// The same in two steps, so that several runs go at once: started (its
// line typed, its input ended), then waited for. `stop_now`, asked every
// few milliseconds while it runs, ends it from outside (as a forced kill)
// when it answers true.
// Started suspended, it runs once resumed: runs started together are
// resumed one right after the other, so that none has a head start of a
// whole process start.
struct StartedChild {
  ChildRun run;
  HANDLE process = nullptr;
  HANDLE thread = nullptr;  // while suspended
  unsigned long long began = 0;
};
StartedChild StartProgram(const std::wstring& program, const std::wstring& folder,
                          const std::optional<std::string>& typed, const std::wstring& output,
                          bool suspended = false);
void ResumeProgram(StartedChild& child);
ChildRun AwaitProgram(StartedChild& child, int timeout_s, HANDLE cancel,
                      const std::function<bool()>& stop_now = nullptr);

#endif  // K27_LIB_CHILD_RUN_H_
