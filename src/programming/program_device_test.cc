#include "programming/program_device.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include "image/checksum.h"
#include "model/block_crc.h"
#include "model/block_layout.h"
#include "model/device_record.h"
#include "support/fake_code_programming.h"
#include "support/run_to_exit.h"

namespace {

constexpr uint32_t kCodeSize = 2048;

// A well-formed code block as the sequence receives it: header fields the
// sequence reads, a time stamp of 0, a body and a valid checksum word.
CodeBlock MakeCode(uint16_t minimum_branch, uint16_t minimum_version) {
  CodeBlock code;
  code.size = kCodeSize;
  code.bytes.reset(new uint8_t[kCodeSize]);
  for (uint32_t i = 0; i < kCodeSize; ++i) code.bytes[i] = static_cast<uint8_t>(i * 7 + 3);
  model::PutBig(code.bytes.get() + model::kTimeStampAt, 4, 0);
  model::PutBig(code.bytes.get() + model::kMinBootBranchAt, 2, minimum_branch);
  model::PutBig(code.bytes.get() + model::kMinBootVersionAt, 2, minimum_version);
  BuildChecksumTable();
  model::SealBlock(code.bytes.get(), code.size);
  return code;
}

DeviceRecord MakeRecord(uint16_t boot_branch, uint16_t boot_version,
                        uint32_t group_id = 0x11223344) {
  DeviceRecord record;
  std::fill(std::begin(record.bytes), std::end(record.bytes), 0x5A);
  model::PutLittle(record.bytes + model::kGroupIdAt, 4, group_id);
  model::PutLittle(record.bytes + model::kBootBranchAt, 2, boot_branch);
  model::PutLittle(record.bytes + model::kBootVersionAt, 2, boot_version);
  return record;
}

// One run of the sequence against the fakes.
struct Bench {
  ProgrammingLog log;
  FakeCodeProgramming server{&log};
  FakeProgrammingPlatform platform{&log};
  CodeBlock code = MakeCode(1, 1);
  DeviceRecord record = MakeRecord(1, 3);

  Bench() {
    server.erase_start.status = 17;
    server.polls = {{S_OK, 17}, {S_OK, 0}};
    platform.counts = {1000, 9214, 10000, 13907};
  }
  Outcome Run() {
    return RunToExit([&] { ProgramDevice(&server, record, code, &platform); });
  }
};

const std::string kTail = "Press space to exit\n";

}  // namespace

TEST(ProgramDeviceTest, SuccessfulRun) {
  Bench bench;
  bench.server.polls = {{S_OK, 17}, {S_OK, 17}, {S_OK, 0}};
  Outcome outcome = bench.Run();
  ASSERT_TRUE(outcome.ended);
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.text,
            "Code flash erase ... erasing ... complete (8.214secs)\n"
            "Code flash program ... complete (3.907secs)\n"
            "Reset request ... accepted\n"
            "PROGRAMMING SUCCESSFUL\n" + kTail);
  EXPECT_EQ(bench.log.Names(),
            (std::vector<std::string>{"time", "frequency", "uuid", "AcquireGroup", "counter",
                                      "EraseStart", "ErasePoll", "ErasePoll", "ErasePoll",
                                      "counter", "counter", "create array", "Program",
                                      "destroy array", "counter", "Reset"}));
  // The device is committed right before the programming group is asked
  // for: Ctrl+C is ignored from then on, and Quick Edit and line input are
  // off until the final message.
  for (const ProgrammingEvent& e : bench.log.events) {
    const bool before = e.what == "time" || e.what == "frequency" || e.what == "uuid";
    EXPECT_EQ(e.committed, !before) << e.what;
  }
  EXPECT_EQ(outcome.console_control,
            (std::vector<std::string>{"install", "read", "write 0x1b1", "write 0x1f7"}));
  EXPECT_TRUE(outcome.ctrl_c_ignored);
  // Each server call that follows a progress text waits on a flushed console.
  for (const ProgrammingEvent& e : bench.log.events) {
    if (e.what == "EraseStart" || e.what == "ErasePoll" || e.what == "Program" ||
        e.what == "Reset") {
      EXPECT_TRUE(e.flushed) << e.what << " after \"" << e.console << "\"";
    }
  }

  EXPECT_EQ(bench.server.group_id, 0x11223344u);
  EXPECT_EQ(bench.server.group_uuid, bench.platform.uuid);
  EXPECT_EQ(bench.server.erase_first, 0u);
  EXPECT_EQ(bench.server.erase_second, 0xFFFFFFFFu);
  EXPECT_EQ(bench.server.program_address, 0x80000u);
  EXPECT_EQ(bench.server.program_length, kCodeSize);
  EXPECT_EQ(bench.server.program_vartype, VT_UI1);
  EXPECT_EQ(bench.server.program_dims, 1u);
  EXPECT_EQ(bench.server.program_lower, 0);
  EXPECT_EQ(bench.server.program_upper, static_cast<LONG>(kCodeSize - 1));
  ASSERT_EQ(bench.server.programmed.size(), kCodeSize);
  EXPECT_TRUE(std::equal(bench.server.programmed.begin(), bench.server.programmed.end(),
                         bench.code.bytes.get()));
}

TEST(ProgramDeviceTest, BootCodeGate) {
  struct Case {
    uint16_t branch, version, minimum_branch, minimum_version;
    const char* message;
  } cases[] = {
      {3, 0, 2, 5, "PROGRAMMING SUCCESSFUL"},
      {2, 5, 2, 5, "PROGRAMMING SUCCESSFUL"},
      {2, 4, 2, 5, "BOOT CODE VERSION TOO LOW FOR THIS CODE"},
      {1, 9, 2, 0, "BOOT CODE BRANCH TOO LOW FOR THIS CODE"},
      // Against the shipped minimum of 1.1.
      {1, 0, 1, 1, "BOOT CODE VERSION TOO LOW FOR THIS CODE"},
      {0, 9, 1, 1, "BOOT CODE BRANCH TOO LOW FOR THIS CODE"},
      {1, 1, 1, 1, "PROGRAMMING SUCCESSFUL"},
      {2, 0, 1, 1, "PROGRAMMING SUCCESSFUL"},
      // Unsigned, and each field in its own byte order.
      {0x8000, 0, 0x7FFF, 0, "PROGRAMMING SUCCESSFUL"},
      {0x7FFF, 0xFFFF, 0x8000, 0, "BOOT CODE BRANCH TOO LOW FOR THIS CODE"},
      {1, 0x8000, 1, 0x7FFF, "PROGRAMMING SUCCESSFUL"},
      {0x0100, 0, 0x0002, 0, "PROGRAMMING SUCCESSFUL"},
      {0x0002, 0, 0x0100, 0, "BOOT CODE BRANCH TOO LOW FOR THIS CODE"},
      {1, 0x0100, 1, 0x0002, "PROGRAMMING SUCCESSFUL"},
      {1, 0x0002, 1, 0x0100, "BOOT CODE VERSION TOO LOW FOR THIS CODE"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.branch << "." << c.version << " against "
                                    << c.minimum_branch << "." << c.minimum_version);
    Bench bench;
    bench.code = MakeCode(c.minimum_branch, c.minimum_version);
    bench.record = MakeRecord(c.branch, c.version);
    std::vector<uint8_t> shipped(bench.code.bytes.get(), bench.code.bytes.get() + kCodeSize);
    Outcome outcome = bench.Run();
    ASSERT_TRUE(outcome.ended);
    EXPECT_EQ(outcome.message, c.message);
    if (std::string(c.message) == "PROGRAMMING SUCCESSFUL") {
      EXPECT_EQ(outcome.status, 0);
      continue;
    }
    // Refused before anything else: no server call, not even the time
    // read, the code block as it was, and the message on a line of its own.
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.text, std::string(c.message) + "\n" + kTail);
    EXPECT_TRUE(bench.log.events.empty());
    // The device was never committed: Ctrl+C and the console as they were.
    EXPECT_TRUE(outcome.console_control.empty());
    EXPECT_FALSE(outcome.ctrl_c_ignored);
    EXPECT_TRUE(std::equal(shipped.begin(), shipped.end(), bench.code.bytes.get()));
  }
}

TEST(ProgramDeviceTest, StampedBlockDiffersOnlyInTimeStampAndChecksum) {
  struct Case {
    int64_t time;
    uint8_t stamp[4];
  } cases[] = {
      {0x5F5E1234, {0x5F, 0x5E, 0x12, 0x34}},
      {2147471999, {0x7F, 0xFF, 0xD2, 0x7F}},
      {2147472000, {0xFF, 0xFF, 0xFF, 0xFF}},  // past 2038-01-18 23:59:59 UTC
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.time);
    Bench bench;
    bench.platform.time = c.time;
    std::vector<uint8_t> shipped(bench.code.bytes.get(), bench.code.bytes.get() + kCodeSize);
    Outcome outcome = bench.Run();
    ASSERT_EQ(outcome.message, "PROGRAMMING SUCCESSFUL");
    const std::vector<uint8_t>& sent = bench.server.programmed;
    ASSERT_EQ(sent.size(), kCodeSize);
    for (uint32_t i = 0; i < kCodeSize; ++i) {
      if (i >= model::kTimeStampAt && i < model::kTimeStampAt + 4) {
        EXPECT_EQ(sent[i], c.stamp[i - model::kTimeStampAt]) << i;
      } else if (i < kCodeSize - 4) {
        EXPECT_EQ(sent[i], shipped[i]) << i;
      }
    }
    EXPECT_TRUE(model::BlockVerifies(sent.data(), kCodeSize));
  }
}

TEST(ProgramDeviceTest, Erase) {
  struct Case {
    const char* name;
    ServerReply start;
    std::vector<ServerReply> polls;
    const char* text;  // the console from the erase on, up to the tail
    size_t polls_made;
    int status;
  } cases[] = {
      {"done at once", {S_OK, 0}, {},
       "Code flash erase ... complete\n"
       "Code flash program ... complete (0.010secs)\n"
       "Reset request ... accepted\nPROGRAMMING SUCCESSFUL\n",
       0, 0},
      {"failure while erasing", {S_OK, 17}, {{S_OK, 17}, {S_OK, 5}},
       "Code flash erase ... erasing ... CODE FLASH ERASE FAILED\n", 2, 1},
      {"failure at the first poll", {S_OK, 17}, {{S_OK, 1}},
       "Code flash erase ... erasing ... CODE FLASH ERASE FAILED\n", 1, 1},
      {"start next to busy", {S_OK, 18}, {{S_OK, 0}},
       "Code flash erase ... CODE FLASH ERASE FAILED\n", 0, 1},
      {"start next to done", {S_OK, 1}, {{S_OK, 0}},
       "Code flash erase ... CODE FLASH ERASE FAILED\n", 0, 1},
      // A failed call's status word means nothing, whatever it holds.
      {"poll failing with busy", {S_OK, 17}, {{static_cast<HRESULT>(0x800706BE), 17}},
       "Code flash erase ... erasing ... ERROR COMMUNICATING WITH SERVER\n", 1, 1},
      {"poll failing with failure", {S_OK, 17}, {{E_UNEXPECTED, 5}},
       "Code flash erase ... erasing ... ERROR COMMUNICATING WITH SERVER\n", 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bench bench;
    bench.server.erase_start = c.start;
    bench.server.polls = c.polls;
    if (c.polls_made == 0) bench.platform.counts = {1000, 10000, 10010};
    Outcome outcome = bench.Run();
    ASSERT_TRUE(outcome.ended);
    EXPECT_EQ(outcome.status, c.status);
    EXPECT_EQ(outcome.text, c.text + kTail);
    EXPECT_EQ(bench.log.Count("ErasePoll"), c.polls_made);
    EXPECT_EQ(bench.log.Count("Program"), c.status == 0 ? 1u : 0u);
    EXPECT_EQ(bench.log.Count("create array"), c.status == 0 ? 1u : 0u);
  }
}

TEST(ProgramDeviceTest, CounterUnavailable) {
  Bench bench;
  bench.platform.counter_available = false;
  Outcome outcome = bench.Run();
  EXPECT_EQ(outcome.text,
            "Code flash erase ... erasing ... complete\n"
            "Code flash program ... complete\n"
            "Reset request ... accepted\n"
            "PROGRAMMING SUCCESSFUL\n" + kTail);
  EXPECT_EQ(outcome.status, 0);
}

TEST(ProgramDeviceTest, CodeArrayLivesOnlyAcrossTheProgramCall) {
  // Refused: the array is gone before the status word is looked at.
  Bench refused;
  refused.server.program = {S_OK, 2};
  Outcome outcome = refused.Run();
  ASSERT_EQ(outcome.message, "CODE FLASH PROGRAM FAILED");
  std::vector<std::string> names = refused.log.Names();
  ASSERT_GE(names.size(), 4u);
  EXPECT_EQ(std::vector<std::string>(names.end() - 4, names.end()),
            (std::vector<std::string>{"counter", "create array", "Program", "destroy array"}));
  // Locked while the server has it, as every array sent.
  EXPECT_EQ(refused.server.program_locks, 1u);
}
