#ifndef K27_RUN_CONSOLE_CONTROL_WIN_H_
#define K27_RUN_CONSOLE_CONTROL_WIN_H_

#include <windows.h>

// The console control handler the Windows build installs when the span
// begins: TRUE (taken) when ControlEventIgnored says so, else FALSE (the
// console's default, which ends the process).
BOOL WINAPI AnswerConsoleControl(DWORD event);

#endif  // K27_RUN_CONSOLE_CONTROL_WIN_H_
