// The console under the committed span on Windows: the control handler, and
// the console input's mode (standard input when it is the console, the
// console's own input, CONIN$, when standard input is redirected).
#include "run/console_control_win.h"

#include "run/committed_span.h"

static_assert(kCtrlCEvent == CTRL_C_EVENT && kCtrlBreakEvent == CTRL_BREAK_EVENT &&
              kCloseEvent == CTRL_CLOSE_EVENT && kLogoffEvent == CTRL_LOGOFF_EVENT &&
              kShutdownEvent == CTRL_SHUTDOWN_EVENT);
static_assert(kLineInput == ENABLE_LINE_INPUT && kEchoInput == ENABLE_ECHO_INPUT &&
              kQuickEditMode == ENABLE_QUICK_EDIT_MODE && kExtendedFlags == ENABLE_EXTENDED_FLAGS);

BOOL WINAPI AnswerConsoleControl(DWORD event) { return ControlEventIgnored(event) ? TRUE : FALSE; }

namespace {

// The console's input, or INVALID_HANDLE_VALUE when the process has none.
HANDLE ConsoleInput() {
  const HANDLE standard = GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  if (standard && standard != INVALID_HANDLE_VALUE && GetConsoleMode(standard, &mode)) return standard;
  // Opened once and kept to the process end, as the key read keeps its own.
  static const HANDLE own = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, 0, nullptr);
  return own;
}

class WindowsConsoleControl : public ConsoleControl {
 public:
  void InstallControlHandler() override { SetConsoleCtrlHandler(AnswerConsoleControl, TRUE); }
  bool ReadInputMode(uint32_t* mode) override {
    const HANDLE input = ConsoleInput();
    DWORD value = 0;
    if (input == INVALID_HANDLE_VALUE || !GetConsoleMode(input, &value)) return false;
    *mode = value;
    return true;
  }
  bool WriteInputMode(uint32_t mode) override {
    const HANDLE input = ConsoleInput();
    return input != INVALID_HANDLE_VALUE && SetConsoleMode(input, mode);
  }
};

}  // namespace

ConsoleControl* DefaultConsoleControl() {
  static WindowsConsoleControl control;
  return &control;
}
