#include "run/fatal_exit.h"

#include <cryptopp/cryptlib.h>

#include <cstdlib>
#include <exception>
#include <new>

#include "run/committed_span.h"
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
    // A function or arrow key arrives as 0 or 0xE0 with its scan code held
    // behind it; the scan code is not a key of its own (Alt+D's would read
    // as a space). A typed character whose code is 0xE0 in the console's
    // code page comes alone: an ordinary key, so a space after it counts.
    if ((key == 0 || key == 0xE0) && Platform()->ScanCodeWaiting()) {
      if (Platform()->ReadKey() == ExitPlatform::kEndOfInput) return;
    }
  }
}

void FatalExit(int status, const char* message) {
  Platform()->UninitialiseCom();
  // The console input's mode as it was before the device was committed, so
  // the operator can select the outcome; Ctrl+C stays ignored once committed.
  RestoreConsoleInputMode();
  PrintLine(message);
  PrintLine("Press space to exit");
  // The final wait is a wait on the operator too: through a pipe or into a
  // file the outcome must show while the tool waits, not after the space.
  FlushOutput();
  WaitForSpace();
  Platform()->EndProcess(status);
  std::abort();  // a platform whose process end returned
}

void RunStages(const std::function<void()>& stages) {
  try {
    stages();
  } catch (const std::bad_alloc&) {
    FatalExit(1, "OUT OF MEMORY");
  } catch (const CryptoPP::Exception&) {
    FatalExit(1, "CODE DECOMPRESSION FAILED");
  } catch (const std::exception&) {
    // Nothing the tool or its libraries is known to throw; a fault of the
    // tool's own, still ended with a message, the console's mode put back
    // and the wait. The tool throws nothing that is not a std::exception.
    FatalExit(1, "INTERNAL ERROR");
  }
}

void CheckHresult(int32_t hr) {
  if (hr < 0) FatalExit(1, "ERROR COMMUNICATING WITH SERVER");
}
