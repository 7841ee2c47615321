#include "run/committed_span.h"

#include <atomic>

namespace {

ConsoleControl* g_control = nullptr;
// Read by the control handler, which Windows calls on a thread of its own.
std::atomic<bool> g_committed{false};
// Off during the span: committed_span.h says why.
constexpr uint32_t kPausedFlags = kQuickEditMode | kLineInput | kEchoInput;

bool g_mode_changed = false;
uint32_t g_mode_before = 0;

ConsoleControl* Control() {
  if (!g_control) g_control = DefaultConsoleControl();
  return g_control;
}

// Quick Edit, on before the span, changes only with the extended flags; a
// console without it keeps its other extended flags as they are.
uint32_t WithExtendedFlagsIfQuickEdit(uint32_t before, uint32_t mode) {
  return (before & kQuickEditMode) ? mode | kExtendedFlags : mode;
}

}  // namespace

ConsoleControl* SetConsoleControl(ConsoleControl* control) {
  ConsoleControl* old = g_control;
  g_control = control;
  g_committed = false;
  g_mode_changed = false;
  return old;
}

bool ControlEventIgnored(uint32_t event) {
  // Closing the window, logging off and shutting down are not refused: a
  // console program cannot refuse them.
  return g_committed && (event == kCtrlCEvent || event == kCtrlBreakEvent);
}

void BeginCommittedSpan() {
  if (g_committed) return;
  g_committed = true;  // before the handler can be asked
  Control()->InstallControlHandler();
  // A console whose mode cannot be read is left alone, and so is one with
  // none of the flags: nothing to turn off, nothing to bring back.
  uint32_t mode = 0;
  if (!Control()->ReadInputMode(&mode) || !(mode & kPausedFlags)) return;
  if (Control()->WriteInputMode(WithExtendedFlagsIfQuickEdit(mode, mode & ~kPausedFlags))) {
    g_mode_before = mode;
    g_mode_changed = true;
  }
}

void RestoreConsoleInputMode() {
  if (!g_mode_changed) return;
  g_mode_changed = false;
  Control()->WriteInputMode(WithExtendedFlagsIfQuickEdit(g_mode_before, g_mode_before));
}
