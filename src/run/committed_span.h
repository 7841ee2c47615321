#ifndef K27_RUN_COMMITTED_SPAN_H_
#define K27_RUN_COMMITTED_SPAN_H_

#include <cstdint>

// From the moment the device is first committed (the programming group is
// asked for) until the process ends, nothing typed or clicked in the console
// may cut the run short. Ctrl+C and Ctrl+Break are ignored: the console's
// default ends the process, leaving the device erased or partly programmed.
// Quick Edit is off: with it, a click starts a selection, and the next write
// to the console blocks until the selection ends, stalling the run between
// two server calls. Quick Edit comes back before the final message, so that
// the operator can select the outcome. Closing the window cannot be
// refused: Windows ends a console program once its handler has answered.

// Begins the span: ProgramDevice, right before it asks for the programming
// group. Once per run; a second call changes nothing.
void BeginCommittedSpan();

// Quick Edit as it was before the span: FatalExit, before its message.
// Ctrl+C and Ctrl+Break stay ignored until the process ends.
void RestoreQuickEdit();

// Console control events, numbered as Windows numbers them.
constexpr uint32_t kCtrlCEvent = 0;
constexpr uint32_t kCtrlBreakEvent = 1;
constexpr uint32_t kCloseEvent = 2;
constexpr uint32_t kLogoffEvent = 5;
constexpr uint32_t kShutdownEvent = 6;

// Console input mode flags: Quick Edit changes only together with the
// extended flags.
constexpr uint32_t kQuickEditMode = 0x0040;
constexpr uint32_t kExtendedFlags = 0x0080;

// The console control handler's answer: true when the event is taken and
// the process goes on, false when it is left to the console's default,
// which ends the process.
bool ControlEventIgnored(uint32_t event);

// What the span needs of the console. The Windows build supplies the control
// handler and the console input's mode; tests supply their own.
class ConsoleControl {
 public:
  virtual ~ConsoleControl() = default;
  // Installs the handler that answers with ControlEventIgnored.
  virtual void InstallControlHandler() = 0;
  // The console input's mode; false when there is no console input or its
  // mode cannot be read.
  virtual bool ReadInputMode(uint32_t* mode) = 0;
  virtual bool WriteInputMode(uint32_t mode) = 0;
};

// Installs the console (tests); the span starts afresh, not yet begun.
// Returns the previous one.
ConsoleControl* SetConsoleControl(ConsoleControl* control);

// Supplied by the build: the console the tool runs in.
ConsoleControl* DefaultConsoleControl();

#endif  // K27_RUN_COMMITTED_SPAN_H_
