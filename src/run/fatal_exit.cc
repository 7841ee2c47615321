#include "run/fatal_exit.h"

#include <cstdlib>

#include "run/console.h"

namespace {
ExitPlatform* g_platform = nullptr;

ExitPlatform* Platform() {
  if (!g_platform) g_platform = DefaultExitPlatform();
  return g_platform;
}
}  // namespace

ExitPlatform* SetExitPlatform(ExitPlatform* platform) {
  ExitPlatform* old = g_platform;
  g_platform = platform;
  return old;
}

void WaitForSpace() {
  for (;;) {
    int key = Platform()->ReadKey();
    if (key == ' ') return;
    if (key == ExitPlatform::kEndOfInput) return;
    // A function or arrow key arrives as 0 or 0xE0 and then its scan code;
    // the scan code is not a key of its own (Alt+D's would read as a space).
    if (key == 0 || key == 0xE0) {
      if (Platform()->ReadKey() == ExitPlatform::kEndOfInput) return;
    }
  }
}

void FatalExit(int status, const char* message) {
  Platform()->UninitialiseCom();
  PrintLine(message);
  PrintLine("Press space to exit");
  WaitForSpace();
  Platform()->EndProcess(status);
  std::abort();  // a platform whose process end returned
}

void CheckHresult(int32_t hr) {
  if (hr < 0) FatalExit(1, "ERROR COMMUNICATING WITH SERVER");
}
