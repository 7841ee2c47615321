#include "fuzz_run.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "model/outcomes.h"
#include "run/fatal_exit.h"
#include "support/run_to_exit.h"

void FuzzFailure(const char* format, ...) {
  va_list args;
  va_start(args, format);
  fprintf(stderr, "\n*** invariant broken: ");
  vfprintf(stderr, format, args);
  fprintf(stderr, "\n");
  va_end(args);
  abort();
}

namespace {
const RecordingConsole* g_console = nullptr;
}

const RecordingConsole& FuzzConsole() {
  FUZZ_REQUIRE(g_console, "no run in progress");
  return *g_console;
}

FuzzOutcome RunFuzzedStages(const std::function<void()>& body) {
  RecordingConsole console;
  g_console = &console;
  FakeExitPlatform platform;
  platform.console = &console;
  FuzzOutcome outcome;
  try {
    RunStages(body);  // as the driver ends what a stage lets escape
  } catch (const ProcessEnded& end) {
    outcome.ended = true;
    outcome.status = end.status;
  }
  g_console = nullptr;
  if (!outcome.ended) {
    FUZZ_REQUIRE(platform.uninitialise_calls == 0, "the run returned after FatalExit began");
    outcome.before = console.text;
    if (getenv("K27_FUZZ_SHOW")) fprintf(stderr, "outcome: (proceeds)\n");
    return outcome;
  }
  // FatalExit shuts COM down first, then prints the message and the prompt:
  // everything from that moment on is the message and the prompt.
  FUZZ_REQUIRE(platform.uninitialise_calls == 1, "FatalExit entered %d times", platform.uninitialise_calls);
  const std::string& text = console.text;
  const std::string tail = "\nPress space to exit\n";
  FUZZ_REQUIRE(platform.uninitialised_at <= text.size() && text.ends_with(tail),
               "the run did not end with \"Press space to exit\"");
  size_t at = platform.uninitialised_at;
  FUZZ_REQUIRE(text.size() - at >= tail.size(), "no message after COM was shut down");
  outcome.before = text.substr(0, at);
  outcome.message = text.substr(at, text.size() - at - tail.size());
  FUZZ_REQUIRE(outcome.message.find('\n') == std::string::npos,
               "more than one line after COM was shut down: \"%s\"", outcome.message.c_str());
  // K27_FUZZ_SHOW=1 shows each run's outcome: what a corpus reaches.
  static const bool show = getenv("K27_FUZZ_SHOW") != nullptr;
  if (show) fprintf(stderr, "outcome: %s\n", outcome.message.c_str());
  const model::Outcome* known = model::FindOutcome(outcome.message);
  FUZZ_REQUIRE(known, "\"%s\" is not one of the tool's messages", outcome.message.c_str());
  FUZZ_REQUIRE(known->status == outcome.status, "\"%s\" ended with status %d, not %d",
               outcome.message.c_str(), outcome.status, known->status);
  return outcome;
}
