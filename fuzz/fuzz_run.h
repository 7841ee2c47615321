#ifndef K27_FUZZ_FUZZ_RUN_H_
#define K27_FUZZ_FUZZ_RUN_H_

// Runs stages of the tool over fuzzed bytes with a recording console and a
// platform whose process end throws, ending what escapes a stage as the
// driver does ("OUT OF MEMORY", "CODE DECOMPRESSION FAILED", "INTERNAL
// ERROR"), and checks
// what holds for every run,
// whatever the bytes: the run either proceeds, or ends through FatalExit
// exactly once, with one message of the tool's table and that message's
// status, then "Press space to exit", and nothing after it.

#include <cstdio>
#include <functional>
#include <string>

struct FuzzOutcome {
  bool ended = false;   // FatalExit was reached
  int status = 0;
  std::string message;  // FatalExit's message; "" when the run proceeded
  std::string before;   // what the console showed before FatalExit began
};

FuzzOutcome RunFuzzedStages(const std::function<void()>& body);

class RecordingConsole;
// The console of the run in progress (for checks made while it runs).
const RecordingConsole& FuzzConsole();

// The format checks of the printf that the build links: mingw's own (which
// knows %zu) on Windows.
#ifdef __MINGW_PRINTF_FORMAT
#define K27_FUZZ_PRINTF __MINGW_PRINTF_FORMAT
#else
#define K27_FUZZ_PRINTF printf
#endif

// Stops the fuzzer with a report (a crash to libFuzzer, which keeps the
// input) when an invariant does not hold.
[[noreturn]] void FuzzFailure(const char* format, ...) __attribute__((format(K27_FUZZ_PRINTF, 1, 2)));

#define FUZZ_REQUIRE(condition, ...)         \
  do {                                       \
    if (!(condition)) FuzzFailure(__VA_ARGS__); \
  } while (0)

#endif  // K27_FUZZ_FUZZ_RUN_H_
