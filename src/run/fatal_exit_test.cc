#include "run/fatal_exit.h"

#include <cryptopp/cryptlib.h>
#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <string>

#include "run/committed_span.h"
#include "run/console.h"
#include "support/fake_console_control.h"
#include "support/run_to_exit.h"

namespace {

TEST(FatalExitTest, ShutsComDownThenPrintsThenWaitsThenEnds) {
  RecordingConsole console;
  FakeExitPlatform platform;
  platform.console = &console;
  platform.keys = {'\r', 27, 'a', ' ', 'b'};
  PrintText("Code flash erase ... ");
  try {
    FatalExit(7, "CODE FLASH ERASE FAILED");
    FAIL() << "FatalExit returned";
  } catch (const ProcessEnded& end) {
    EXPECT_EQ(end.status, 7);
  }
  EXPECT_EQ(platform.uninitialise_calls, 1);
  EXPECT_EQ(platform.uninitialised_at, std::string("Code flash erase ... ").size());
  EXPECT_EQ(console.text, "Code flash erase ... CODE FLASH ERASE FAILED\nPress space to exit\n");
  // Enter, Escape and a letter change nothing; the key after the space is
  // never read.
  EXPECT_EQ(platform.keys_read, 4u);
  // Flushed once, after the prompt and before the wait, so the outcome
  // shows through a pipe while the tool waits.
  EXPECT_EQ(console.flushes, std::vector<size_t>{console.text.size()});
  EXPECT_EQ(platform.flushes_at_first_key, std::vector<size_t>{console.text.size()});
}

TEST(FatalExitTest, WhatEscapesTheStagesEndsTheRun) {
  // Thrown once the device is committed: the console's mode comes back too.
  struct Row {
    std::function<void()> thrown;
    const char* message;
  } rows[] = {
      {[] { throw std::bad_alloc(); }, "OUT OF MEMORY"},
      {[] { throw CryptoPP::Exception(CryptoPP::Exception::INVALID_DATA_FORMAT, "bad"); }, "CODE DECOMPRESSION FAILED"},
      {[] { throw std::length_error("vector"); }, "INTERNAL ERROR"},
      {[] { std::string().at(1); }, "INTERNAL ERROR"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.message);
    RecordingConsole console;
    FakeExitPlatform platform;
    FakeConsoleControl control;
    const uint32_t before = control.mode;
    try {
      RunStages([&] {
        BeginCommittedSpan();
        row.thrown();
      });
      FAIL() << row.message;
    } catch (const ProcessEnded& end) {
      EXPECT_EQ(end.status, 1);
    }
    EXPECT_EQ(console.text, std::string(row.message) + "\nPress space to exit\n");
    EXPECT_EQ(control.mode, before);
  }
  bool ran = false;
  RunStages([&] { ran = true; });  // a run that ends nowhere returns
  EXPECT_TRUE(ran);
}

TEST(FatalExitTest, EndOfInputEndsTheWait) {
  // No console (CI, or a failed read): the wait ends at once.
  RecordingConsole console;
  FakeExitPlatform platform;
  platform.keys = {'x', 'y'};
  try {
    FatalExit(0, "PROGRAMMING SUCCESSFUL");
  } catch (const ProcessEnded& end) {
    EXPECT_EQ(end.status, 0);
  }
  EXPECT_EQ(platform.keys_read, 3u);
  EXPECT_EQ(console.text, "PROGRAMMING SUCCESSFUL\nPress space to exit\n");
}

TEST(FatalExitTest, TwoPartKeysAndTypedCharacters) {
  // Each key press as the C run-time's key read delivers it on Windows: a
  // function or arrow key as 0 or 0xE0 with its scan code held behind it;
  // a typed character as one byte of the console's code page, where 0xE0 is
  // 'р' in 866, 'Ó' in 850 and 852, 'α' in 437.
  const KeyPress kAltD{0, 32};  // the scan code is a space's code
  const KeyPress kF1{0, 59};
  const KeyPress kUp{0xE0, 72};
  const KeyPress kDelete{0xE0, 83};
  const KeyPress kF12{0xE0, 134};
  struct Row {
    const char* name;
    std::vector<KeyPress> keys;
    size_t reads;  // the read that ended the wait: the space, or end of input
  } rows[] = {
      {"Alt+D", {kAltD, 'q', ' '}, 4},
      {"F1", {kF1, ' '}, 3},
      {"up arrow", {kUp, ' '}, 3},
      {"Delete", {kDelete, ' '}, 3},
      {"F12", {kF12, ' '}, 3},
      {"only two-part keys", {kAltD, kUp, kF1}, 7},
      {"0xE0 typed, then a space", {0xE0, ' '}, 2},
      {"0xE0 typed twice, then a space", {0xE0, 0xE0, ' '}, 3},
      {"0xE0 typed, then Alt+D", {0xE0, kAltD}, 4},
      {"0xE0 typed, then an arrow, then a space", {0xE0, kUp, ' '}, 4},
      {"Alt+D, then 0xE0 typed, then a space", {kAltD, 0xE0, ' '}, 4},
      {"0xFF typed, then a space", {0xFF, ' '}, 2},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    RecordingConsole console;
    FakeExitPlatform platform;
    platform.keys = row.keys;
    try {
      FatalExit(1, "RESET REJECTED");
    } catch (const ProcessEnded&) {
    }
    EXPECT_EQ(platform.keys_read, row.reads);
  }
}

TEST(FatalExitTest, StatusesPassThrough) {
  for (int status : {0, 1, 108, 109}) {
    Outcome outcome = RunToExit([&] { FatalExit(status, "X"); });
    EXPECT_TRUE(outcome.ended);
    EXPECT_EQ(outcome.status, status);
    EXPECT_EQ(outcome.message, "X");
  }
}

TEST(CheckHresultTest, TheSignAloneDecides) {
  struct Row {
    int32_t hr;
    bool ends;
  } rows[] = {
      {0, false},
      {1, false},  // S_FALSE
      {0x7FFFFFFF, false},
      {static_cast<int32_t>(0x80000000u), true},
      {static_cast<int32_t>(0x800706BAu), true},  // RPC server unavailable
      {static_cast<int32_t>(0x80040154u), true},  // class not registered
      {-1, true},
  };
  for (const Row& row : rows) {
    Outcome outcome = RunToExit([&] { CheckHresult(row.hr); });
    EXPECT_EQ(outcome.ended, row.ends) << std::hex << row.hr;
    if (row.ends) {
      EXPECT_EQ(outcome.status, 1);
      EXPECT_EQ(outcome.text, "ERROR COMMUNICATING WITH SERVER\nPress space to exit\n");
    } else {
      EXPECT_EQ(outcome.text, "");
    }
  }
}

TEST(ConsoleTest, FormatsAndFlushes) {
  RecordingConsole console;
  PrintFormat("Ready to program K27 firmware release %d.%d.%d(%d)\n", 1, 1, 5, 65535);
  PrintText("Please enter : ");
  FlushOutput();
  PrintWideText(L"Access as Operator : Full \u00e9\n");
  std::string long_text(1000, 'x');
  PrintFormat("%s", long_text.c_str());
  EXPECT_EQ(console.text, "Ready to program K27 firmware release 1.1.5(65535)\nPlease enter : "
                          "Access as Operator : Full \xc3\xa9\n" + long_text);
  ASSERT_EQ(console.flushes.size(), 1u);
  EXPECT_EQ(console.flushes[0], 66u);
}

}  // namespace
