#include "run/committed_span.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "run/fatal_exit.h"
#include "support/fake_console_control.h"
#include "support/run_to_exit.h"

namespace {

struct Answers {
  bool ctrl_c, ctrl_break, close, logoff, shutdown;
};

Answers AnswersNow() {
  return {ControlEventIgnored(kCtrlCEvent), ControlEventIgnored(kCtrlBreakEvent), ControlEventIgnored(kCloseEvent),
          ControlEventIgnored(kLogoffEvent), ControlEventIgnored(kShutdownEvent)};
}

void ExpectAnswers(const Answers& got, bool keys_ignored) {
  EXPECT_EQ(got.ctrl_c, keys_ignored);
  EXPECT_EQ(got.ctrl_break, keys_ignored);
  // Never refused: Windows ends a console program on these whatever its
  // handler answers.
  EXPECT_FALSE(got.close);
  EXPECT_FALSE(got.logoff);
  EXPECT_FALSE(got.shutdown);
}

TEST(CommittedSpanTest, ControlHandlerAnswersBeforeDuringAndAfterTheFinalMessage) {
  RecordingConsole console;
  FakeExitPlatform platform;
  platform.console = &console;
  FakeConsoleControl control;
  {
    SCOPED_TRACE("before the span");
    ExpectAnswers(AnswersNow(), false);
    EXPECT_TRUE(control.calls.empty()) << "installed before the device was committed";
  }
  BeginCommittedSpan();
  {
    SCOPED_TRACE("during the span");
    ExpectAnswers(AnswersNow(), true);
    // Other numbers (a future event) go to the default as well.
    EXPECT_FALSE(ControlEventIgnored(3));
    EXPECT_FALSE(ControlEventIgnored(4));
    EXPECT_FALSE(ControlEventIgnored(7));
  }
  Answers in_the_wait{};
  platform.keys = {'a', ' '};
  try {
    FatalExit(1, "CODE FLASH ERASE FAILED");
  } catch (const ProcessEnded&) {
    in_the_wait = AnswersNow();
  }
  {
    SCOPED_TRACE("after the final message, until the process ends");
    ExpectAnswers(in_the_wait, true);
  }
  // A second begin (there is none in a run) installs nothing more.
  BeginCommittedSpan();
  const std::vector<std::string> names = control.Names();
  EXPECT_EQ(std::count(names.begin(), names.end(), "install"), 1);
}

TEST(CommittedSpanTest, QuickEditAndLineInputOffForTheSpanAndBackBeforeTheMessage) {
  // Quick Edit (0x40), line input (0x02) and echo input (0x04) off; every
  // other flag, processed input (0x01, Ctrl+C to the handler) among them,
  // as it was.
  struct Row {
    const char* name;
    uint32_t mode;
    bool readable, writable;
    std::vector<std::string> calls;  // after "install"
    uint32_t during, after;
  } rows[] = {
      {"Windows' default", 0x1F7, true, true, {"read", "write 0x1b1", "write 0x1f7"}, 0x1B1, 0x1F7},
      {"with virtual terminal input", 0x2F7, true, true, {"read", "write 0x2b1", "write 0x2f7"}, 0x2B1, 0x2F7},
      {"Quick Edit already off", 0x1B7, true, true, {"read", "write 0x1b1", "write 0x1b7"}, 0x1B1, 0x1B7},
      // Without Quick Edit the extended flags are never added: the mode
      // comes back exactly as read.
      {"line input alone", 0x3, true, true, {"read", "write 0x1", "write 0x3"}, 0x1, 0x3},
      {"none of the three", 0x1B1, true, true, {"read"}, 0x1B1, 0x1B1},
      {"only Quick Edit", 0x40, true, true, {"read", "write 0x80", "write 0xc0"}, 0x80, 0xC0},
      // Quick Edit reported without the extended flags: turned off and back
      // on only together with them.
      {"Quick Edit without the extended flags", 0x57, true, true, {"read", "write 0x91", "write 0xd7"}, 0x91, 0xD7},
      {"mode that cannot be read", 0x1F7, false, true, {"read"}, 0x1F7, 0x1F7},
      {"mode that cannot be written", 0x1F7, true, false, {"read", "write 0x1b1"}, 0x1F7, 0x1F7},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    RecordingConsole console;
    FakeExitPlatform platform;
    platform.console = &console;
    FakeConsoleControl control;
    control.mode = row.mode;
    control.readable = row.readable;
    control.writable = row.writable;
    PrintText("Code flash erase ... ");
    BeginCommittedSpan();
    EXPECT_EQ(control.mode, row.during);
    try {
      FatalExit(1, "CODE FLASH ERASE FAILED");
    } catch (const ProcessEnded&) {
    }
    EXPECT_EQ(control.mode, row.after);
    std::vector<std::string> expected{"install"};
    expected.insert(expected.end(), row.calls.begin(), row.calls.end());
    EXPECT_EQ(control.Names(), expected);
    if (row.calls.size() == 3) {
      // Brought back after COM was shut down and before the message.
      EXPECT_EQ(control.calls.back().at, platform.uninitialised_at);
      EXPECT_EQ(control.calls.back().at, std::string("Code flash erase ... ").size());
    }
    EXPECT_EQ(console.text, "Code flash erase ... CODE FLASH ERASE FAILED\nPress space to exit\n");
  }
}

TEST(CommittedSpanTest, AFailureBeforeTheSpanLeavesTheConsoleAlone) {
  Outcome outcome = RunToExit([] { FatalExit(1, "THAT SERIAL NUMBER IS NOT IN THE LIST OF DEVICES FOUND"); });
  EXPECT_TRUE(outcome.ended);
  EXPECT_TRUE(outcome.console_control.empty());
  EXPECT_FALSE(outcome.ctrl_c_ignored);
}

}  // namespace
