// The Windows platform under FatalExit, for real: the C run-time's key read
// and exit.

#include <conio.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>

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

TEST(WindowsExitPlatformTest, ScanCodeWaitingIsTheRunTimesPushBack) {
  // The push-back buffer is the run-time's own, console or not: _getch
  // returns what it holds without reading the console.
  ExitPlatform* platform = DefaultExitPlatform();
  EXPECT_FALSE(platform->ScanCodeWaiting());
  EXPECT_FALSE(platform->ScanCodeWaiting()) << "the probe was left behind";
  // As _getch leaves the up arrow after its 0xE0.
  ASSERT_EQ(_ungetch(72), 72);
  EXPECT_TRUE(platform->ScanCodeWaiting());
  EXPECT_TRUE(platform->ScanCodeWaiting()) << "asking took the scan code";
  EXPECT_EQ(platform->ReadKey(), 72);
  EXPECT_FALSE(platform->ScanCodeWaiting());
}

TEST(WindowsExitPlatformTest, KeysAreBytesOfTheCodePage) {
  // Wine's run-time gives 'α' typed under code page 437 as -32; Windows'
  // gives 0xE0. Either way the key read answers 0xE0.
  ExitPlatform* platform = DefaultExitPlatform();
  for (int given : {-32, 0xE0, 0x80, 0x7F, 0}) {
    ASSERT_NE(_ungetch(given), EOF) << given;
    EXPECT_EQ(platform->ReadKey(), given & 0xFF) << given;
  }
  EXPECT_FALSE(platform->ScanCodeWaiting());
}

}  // namespace
