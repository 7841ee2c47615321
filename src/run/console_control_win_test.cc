// The committed span's Windows edge for real: the control handler it
// installs, a Ctrl+C delivered through a console, and the console input's
// mode. The mode answers only in a console (CI has none): the end-to-end
// tests run these tests in a terminal as well.

#include "run/console_control_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>

#include "run/committed_span.h"
#include "support/fake_console_control.h"

namespace {

TEST(WindowsConsoleControlTest, TheInstalledHandlersAnswers) {
  FakeConsoleControl control;
  struct Row {
    DWORD event;
    BOOL before, during;
  } rows[] = {
      {CTRL_C_EVENT, FALSE, TRUE},
      {CTRL_BREAK_EVENT, FALSE, TRUE},
      {CTRL_CLOSE_EVENT, FALSE, FALSE},
      {CTRL_LOGOFF_EVENT, FALSE, FALSE},
      {CTRL_SHUTDOWN_EVENT, FALSE, FALSE},
  };
  for (const Row& row : rows) EXPECT_EQ(AnswerConsoleControl(row.event), row.before) << row.event;
  BeginCommittedSpan();
  for (const Row& row : rows) EXPECT_EQ(AnswerConsoleControl(row.event), row.during) << row.event;
}

// How the child of a death test below ends.
constexpr int kSurvived = 42;
constexpr int kNoConsole = 43;
constexpr int kNotDelivered = 44;
// Windows' status for a process ended by Ctrl+C; Wine's is 0.
constexpr int kControlCExit = static_cast<int>(0xC000013Au);

volatile LONG g_delivered = 0;

BOOL WINAPI Witness(DWORD event) {
  if (event == CTRL_C_EVENT) InterlockedExchange(&g_delivered, 1);
  return FALSE;  // on to the handler installed before it, or the default
}

// Sends Ctrl+C through a console of this process's own, with the committed
// span begun or not, and ends with kSurvived if the process outlived it.
[[noreturn]] void CtrlCThroughOwnConsole(bool committed) {
  FreeConsole();
  if (!AllocConsole()) _exit(kNoConsole);
  SetConsoleCtrlHandler(nullptr, FALSE);  // Ctrl+C not disabled, whatever was inherited
  if (committed) {
    SetConsoleControl(DefaultConsoleControl());
    BeginCommittedSpan();
  }
  // The last handler installed is asked first: the witness sees the event
  // arrive, then hands it on.
  SetConsoleCtrlHandler(Witness, TRUE);
  if (!GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) _exit(kNotDelivered);
  for (int i = 0; i < 200 && !g_delivered; ++i) Sleep(50);
  if (!g_delivered) _exit(kNotDelivered);
  Sleep(1000);  // the handlers after the witness run on its thread
  _exit(kSurvived);
}

TEST(WindowsConsoleControlDeathTest, CtrlCEndsTheToolOnlyBeforeTheSpan) {
  EXPECT_EXIT(CtrlCThroughOwnConsole(false),
              [](int status) { return status == 0 || status == kControlCExit; }, "");
  EXPECT_EXIT(CtrlCThroughOwnConsole(true), testing::ExitedWithCode(kSurvived), "");
}

TEST(WindowsConsoleControlTest, QuickEditAndLineInputOffDuringTheSpanAndBackAfterIt) {
  const HANDLE input = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_EXISTING, 0, nullptr);
  DWORD original = 0;
  if (input == INVALID_HANDLE_VALUE || !GetConsoleMode(input, &original)) {
    // The edge finds no such console either, so the span leaves it alone.
    uint32_t mode = 0;
    EXPECT_FALSE(DefaultConsoleControl()->ReadInputMode(&mode));
    if (input != INVALID_HANDLE_VALUE) CloseHandle(input);
    GTEST_SKIP() << "no console input whose mode answers";
  }
  constexpr DWORD kOff = ENABLE_QUICK_EDIT_MODE | ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT;
  struct Row {
    const char* name;
    DWORD start;
    bool redirected;  // standard input from a pipe: the edge opens CONIN$
  } rows[] = {
      {"Quick Edit on", original | ENABLE_QUICK_EDIT_MODE | ENABLE_EXTENDED_FLAGS, false},
      {"Quick Edit on, standard input redirected", original | ENABLE_QUICK_EDIT_MODE | ENABLE_EXTENDED_FLAGS, true},
      {"Quick Edit off", (original | ENABLE_EXTENDED_FLAGS) & ~ENABLE_QUICK_EDIT_MODE, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ASSERT_TRUE(SetConsoleMode(input, row.start));
    DWORD start = 0;
    ASSERT_TRUE(GetConsoleMode(input, &start));
    const HANDLE standard = GetStdHandle(STD_INPUT_HANDLE);
    HANDLE pipe_read = nullptr, pipe_write = nullptr;
    if (row.redirected) {
      ASSERT_TRUE(CreatePipe(&pipe_read, &pipe_write, nullptr, 0));
      SetStdHandle(STD_INPUT_HANDLE, pipe_read);
    }
    ConsoleControl* previous = SetConsoleControl(DefaultConsoleControl());
    BeginCommittedSpan();
    DWORD during = 0, after = 0;
    GetConsoleMode(input, &during);
    RestoreConsoleInputMode();
    GetConsoleMode(input, &after);
    SetConsoleControl(previous);
    if (row.redirected) {
      SetStdHandle(STD_INPUT_HANDLE, standard);
      CloseHandle(pipe_read);
      CloseHandle(pipe_write);
    }
    EXPECT_EQ(during, start & ~kOff) << std::hex << start;
    EXPECT_EQ(after, start) << std::hex << start;
  }
  SetConsoleMode(input, original);
  CloseHandle(input);
}

}  // namespace
