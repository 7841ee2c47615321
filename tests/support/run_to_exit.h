#ifndef K27_SUPPORT_RUN_TO_EXIT_H_
#define K27_SUPPORT_RUN_TO_EXIT_H_

// A platform under FatalExit that ends the "process" by throwing, so a test
// can run a stage to its end and look at the outcome.

#include <functional>
#include <string>
#include <vector>

#include "run/fatal_exit.h"
#include "support/recording_console.h"

// Thrown by FakeExitPlatform::EndProcess. Deliberately not a std::exception,
// so nothing in the tool that catches library errors can catch it.
struct ProcessEnded {
  int status;
};

// One key press as the C run-time's key read delivers it: one code (a
// character of the console's code page), or for a function or arrow key a
// prefix (0 or 0xE0) whose scan code the run-time holds for the next read.
struct KeyPress {
  KeyPress(int code) : code(code) {}  // a plain character converts
  KeyPress(int prefix, int scan_code) : code(prefix), scan_code(scan_code), two_part(true) {}
  int code;
  int scan_code = 0;
  bool two_part = false;
};

class FakeExitPlatform : public ExitPlatform {
 public:
  FakeExitPlatform();
  ~FakeExitPlatform() override;
  void UninitialiseCom() override;
  int ReadKey() override;
  bool ScanCodeWaiting() override;
  [[noreturn]] void EndProcess(int status) override;

  // Key presses the console will deliver, in order; then end of input.
  std::vector<KeyPress> keys{' '};
  size_t keys_read = 0;  // ReadKey calls, scan codes included
  int uninitialise_calls = 0;
  // The transcript's length when COM was shut down, or npos.
  size_t uninitialised_at = std::string::npos;
  // The console's flushes when the first key was read.
  std::vector<size_t> flushes_at_first_key;
  RecordingConsole* console = nullptr;

 private:
  ExitPlatform* previous_;
  size_t presses_read_ = 0;
  bool holding_scan_code_ = false;
  int held_scan_code_ = 0;
};

// How a run of some code ended.
struct Outcome {
  bool ended = false;  // FatalExit was reached
  int status = 0;
  std::string text;    // the whole console transcript
  // The last line that FatalExit printed before "Press space to exit",
  // i.e. the outcome message, or "" when the code returned.
  std::string message;
  // What the committed span asked of the console (FakeConsoleControl's
  // names), and whether Ctrl+C was ignored at the end.
  std::vector<std::string> console_control;
  bool ctrl_c_ignored = false;
};

// Runs `body` with a recording console, a fake platform and a fake console
// under the committed span.
Outcome RunToExit(const std::function<void()>& body);

#endif  // K27_SUPPORT_RUN_TO_EXIT_H_
