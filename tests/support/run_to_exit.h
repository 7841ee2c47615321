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

class FakeExitPlatform : public ExitPlatform {
 public:
  FakeExitPlatform();
  ~FakeExitPlatform() override;
  void UninitialiseCom() override;
  int ReadKey() override;
  [[noreturn]] void EndProcess(int status) override;

  // Keys the console will deliver, in order; then end of input.
  std::vector<int> keys{' '};
  size_t keys_read = 0;
  int uninitialise_calls = 0;
  // The transcript's length when COM was shut down, or npos.
  size_t uninitialised_at = std::string::npos;
  RecordingConsole* console = nullptr;

 private:
  ExitPlatform* previous_;
};

// How a run of some code ended.
struct Outcome {
  bool ended = false;  // FatalExit was reached
  int status = 0;
  std::string text;    // the whole console transcript
  // The last line that FatalExit printed before "Press space to exit",
  // i.e. the outcome message, or "" when the code returned.
  std::string message;
};

// Runs `body` with a recording console and a fake platform.
Outcome RunToExit(const std::function<void()>& body);

#endif  // K27_SUPPORT_RUN_TO_EXIT_H_
