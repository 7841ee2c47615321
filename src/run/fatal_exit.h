#ifndef K27_RUN_FATAL_EXIT_H_
#define K27_RUN_FATAL_EXIT_H_

#include <cstdint>

// The tool's only way out, on success and on failure alike: COM shut down,
// the message, "Press space to exit", the wait for the space key, and the
// process exit with the status.
[[noreturn]] void FatalExit(int status, const char* message);

// Ends the run with "ERROR COMMUNICATING WITH SERVER" when the result of a
// server call is a failure. The sign alone decides.
void CheckHresult(int32_t hr);

// Reads console keys until a space. Returns at once when the console reports
// end of input (no console at all, or the read fails), which no key can be.
void WaitForSpace();

// What FatalExit needs of the platform. The Windows build supplies COM's
// shut-down, the console key read and exit(); tests supply their own.
class ExitPlatform {
 public:
  virtual ~ExitPlatform() = default;
  virtual void UninitialiseCom() = 0;
  // One key press, unechoed and unbuffered; kEndOfInput when none can be read.
  virtual int ReadKey() = 0;
  [[noreturn]] virtual void EndProcess(int status) = 0;
  static constexpr int kEndOfInput = -1;
};

// Installs the platform; returns the previous one.
ExitPlatform* SetExitPlatform(ExitPlatform* platform);

// Supplied by the build: the platform the tool runs on.
ExitPlatform* DefaultExitPlatform();

#endif  // K27_RUN_FATAL_EXIT_H_
