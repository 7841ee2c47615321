#include "run/committed_span.h"

#include <atomic>

namespace {

ConsoleControl* g_control = nullptr;
// Read by the control handler, which Windows calls on a thread of its own.
std::atomic<bool> g_committed{false};
bool g_quick_edit_paused = false;
uint32_t g_mode_before = 0;

ConsoleControl* Control() {
  if (!g_control) g_control = DefaultConsoleControl();
  return g_control;
}

}  // namespace

ConsoleControl* SetConsoleControl(ConsoleControl* control) {
  ConsoleControl* old = g_control;
  g_control = control;
  g_committed = false;
  g_quick_edit_paused = false;
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
  // A console whose mode cannot be read is left alone, and so is one
  // without Quick Edit: nothing to turn off, nothing to bring back.
  uint32_t mode = 0;
  if (!Control()->ReadInputMode(&mode) || !(mode & kQuickEditMode)) return;
  if (Control()->WriteInputMode((mode | kExtendedFlags) & ~kQuickEditMode)) {
    g_mode_before = mode;
    g_quick_edit_paused = true;
  }
}

void RestoreQuickEdit() {
  if (!g_quick_edit_paused) return;
  g_quick_edit_paused = false;
  // Quick Edit, on before, comes back only with the extended flags.
  Control()->WriteInputMode(g_mode_before | kExtendedFlags);
}
