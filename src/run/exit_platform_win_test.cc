// The Windows platform under FatalExit, for real: the C run-time's key read
// and exit.

#include <windows.h>

#include <gtest/gtest.h>

#include "run/fatal_exit.h"

namespace {

bool HasConsole() {
  const HANDLE input = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_EXISTING, 0, nullptr);
  if (input == INVALID_HANDLE_VALUE) return false;
  CloseHandle(input);
  return true;
}

TEST(WindowsExitPlatformTest, WithNoConsoleTheWaitEndsAtOnceWithTheStatus) {
  // With a console the key read would wait for a key (the end-to-end tests
  // type them); CI has none, as a tool started without one.
  if (HasConsole()) GTEST_SKIP() << "a console is attached";
  EXPECT_EQ(DefaultExitPlatform()->ReadKey(), ExitPlatform::kEndOfInput);
  EXPECT_EQ(DefaultExitPlatform()->ReadKey(), ExitPlatform::kEndOfInput);
  EXPECT_EXIT(FatalExit(108, "UNKNOWN CODE HEADER X VERSION"), testing::ExitedWithCode(108), "");
  EXPECT_EXIT(FatalExit(0, "PROGRAMMING SUCCESSFUL"), testing::ExitedWithCode(0), "");
}

}  // namespace
