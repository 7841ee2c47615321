#ifndef K27_RUN_COMMITTED_SPAN_H_
#define K27_RUN_COMMITTED_SPAN_H_

#include <cstdint>

// From the moment the device is first committed (the programming group is
// asked for) until the process ends, nothing typed or clicked in the console
// may cut the run short or hold it up. Ctrl+C and Ctrl+Break are ignored: the
// console's default ends the process, leaving the device erased or partly
// programmed. Quick Edit and line input are off until the final message, as
// each lets a click or a key block the next write to the console, stalling
// the run between two server calls: with Quick Edit a click starts a
// selection, and writes wait until it ends; with line input Ctrl+S and Pause
// suspend output until another key is pressed, which is swallowed. Echo input
// goes with line input (Windows allows it only with it); nothing reads a line
// once the serial number is in. The three come back as they were before the
// final message, so that the operator can select the outcome. Closing the
// window cannot be refused: Windows ends a console program once its handler
// has answered.

// Begins the span: ProgramDevice, right before it asks for the programming
// group. Once per run; a second call changes nothing.
void BeginCommittedSpan();

// The console input's mode as it was before the span: FatalExit, before its
// message. Ctrl+C and Ctrl+Break stay ignored until the process ends.
void RestoreConsoleInputMode();

// Console control events, numbered as Windows numbers them.
constexpr uint32_t kCtrlCEvent = 0;
constexpr uint32_t kCtrlBreakEvent = 1;
constexpr uint32_t kCloseEvent = 2;
constexpr uint32_t kLogoffEvent = 5;
constexpr uint32_t kShutdownEvent = 6;

// Console input mode flags: echo input needs line input, and Quick Edit
// changes only together with the extended flags.
constexpr uint32_t kLineInput = 0x0002;
constexpr uint32_t kEchoInput = 0x0004;
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
