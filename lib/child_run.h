#ifndef K27_LIB_CHILD_RUN_H_
#define K27_LIB_CHILD_RUN_H_

// Runs of k27prog.exe as the kit makes them: with no console at all (so the
// tool's final wait for the space key ends at once, as on a PC with no
// operator) and standard input from a pipe.

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

// The clock runs are timed by: ms since 1970, UTC.
int64_t UtcNowMs();

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

// One run of the program under qualification: in a folder of its own, the
// line typed and then the end of input, standard output and error to a
// file, and a time limit. `cancel`, when signalled, ends the run at once
// (the kit was interrupted).
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

// A program started for the station: standard input and output (standard
// error with it) through pipes whose other ends the caller holds, in a
// process group of its own, in the current folder. Nothing ends it but
// itself: it outlives the caller (a job the caller runs in is left where the
// job allows it).
struct PipedChild {
  bool started = false;
  std::string error;        // why it could not be started
  HANDLE process = nullptr;
  DWORD pid = 0;
  HANDLE input = nullptr;   // what the program reads; close it to end its input
  HANDLE output = nullptr;  // what it writes
};
PipedChild StartPiped(const std::wstring& program);

// Whether this process runs in a job that ends every process in it when
// the job's last handle closes and that lets no child leave it (some remote
// shells make one): a child started here then ends with this process.
bool ChildrenEndWithThisProcess();

// Appends what the pipe holds now, without waiting; how many bytes. A pipe
// whose writer still lives but has written nothing gives 0, as does one that
// is closed.
size_t ReadAvailable(HANDLE pipe, std::string& into);

#endif  // K27_LIB_CHILD_RUN_H_
