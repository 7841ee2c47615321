#ifndef K27_RUN_FATAL_EXIT_H_
#define K27_RUN_FATAL_EXIT_H_

#include <cstdint>
#include <functional>

// The tool's only way out, on success and on failure alike: COM shut down,
// the console input's mode back as it was before the device was committed,
// the message, "Press space to exit", standard output flushed, the wait for
// the space key, and the process exit with the status.
[[noreturn]] void FatalExit(int status, const char* message);

// Runs the stages, which catch nothing: what escapes one ends the run
// through FatalExit like every other failure ("OUT OF MEMORY", "CODE
// DECOMPRESSION FAILED", and "INTERNAL ERROR" for any other exception).
void RunStages(const std::function<void()>& stages);

// Ends the run with "ERROR COMMUNICATING WITH SERVER" when the result of a
// server call is a failure. The sign alone decides.
void CheckHresult(int32_t hr);

// Reads console keys until a space. Returns at once when the console reports
// end of input (no console at all, or the read fails), which no key can be.
// A function or arrow key's scan code is not a key of its own.
void WaitForSpace();

// What FatalExit needs of the platform. The Windows build supplies COM's
// shut-down, the C run-time's console key read and exit(); tests supply
// their own.
class ExitPlatform {
 public:
  virtual ~ExitPlatform() = default;
  virtual void UninitialiseCom() = 0;
  // One key press, unechoed and unbuffered, as a byte of the console's code
  // page (0 to 255); kEndOfInput when none can be read. A function or arrow
  // key comes as two reads: 0 or 0xE0, then its scan code.
  virtual int ReadKey() = 0;
  // Whether the key read holds a scan code for the next ReadKey: the second
  // part of the two-part key whose prefix was just read. Asking takes
  // nothing away.
  virtual bool ScanCodeWaiting() = 0;
  [[noreturn]] virtual void EndProcess(int status) = 0;
  static constexpr int kEndOfInput = -1;
};

// Installs the platform; returns the previous one.
ExitPlatform* SetExitPlatform(ExitPlatform* platform);

// Supplied by the build: the platform the tool runs on.
ExitPlatform* DefaultExitPlatform();

#endif  // K27_RUN_FATAL_EXIT_H_
