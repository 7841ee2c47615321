#include "bench/bench_state.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

Bench TwoDevices() {
  return ParseBench(R"({"shared": true, "devices": [
    {"serial": 42, "state": 1100, "code_version": [2, 1, 7]},
    {"serial": 57, "state": 1000}]})");
}

// A code block whose header gives branch 1, version 2, revision 9 at bytes
// 74 to 79, big-endian.
std::vector<uint8_t> Code129() {
  std::vector<uint8_t> code(96, 0xEE);
  const uint8_t header[] = {0x00, 0x01, 0x00, 0x02, 0x00, 0x09};
  std::copy(std::begin(header), std::end(header), code.begin() + 74);
  return code;
}

struct Step {
  const char* op;
  uint16_t status;
  bool changes;
};

bool Apply(DeviceMemory& m, const Step& step) {
  const std::string op = step.op;
  if (op == "EraseStart") return AfterEraseStart(m, step.status);
  if (op == "ErasePoll") return AfterErasePoll(m, step.status);
  if (op == "Program") return AfterProgram(m, step.status, Code129());
  return AfterReset(m, step.status);
}

TEST(BenchStateTest, WhatEachAnswerLeavesTheDeviceShowing) {
  struct Case {
    std::vector<Step> steps;
    const char* flash;
    uint16_t state;
    std::vector<uint16_t> code_version;
  };
  const Case cases[] = {
      {{}, "as_bench", 1100, {2, 1, 7}},
      {{{"EraseStart", 17, true}}, "erasing", 1000, {0, 0, 0}},
      {{{"EraseStart", 0, true}}, "erased", 1000, {0, 0, 0}},
      {{{"EraseStart", 0x0103, false}}, "as_bench", 1100, {2, 1, 7}},
      {{{"EraseStart", 17, true}, {"ErasePoll", 17, false}, {"ErasePoll", 0, true}}, "erased", 1000, {0, 0, 0}},
      {{{"EraseStart", 17, true}, {"ErasePoll", 9, true}}, "erase_failed", 1000, {0, 0, 0}},
      {{{"ErasePoll", 0, false}}, "as_bench", 1100, {2, 1, 7}},
      {{{"EraseStart", 0, true}, {"Program", 0, true}}, "programmed", 1000, {0, 0, 0}},
      {{{"EraseStart", 0, true}, {"Program", 0, true}, {"Reset", 0, true}}, "running", 1200, {1, 2, 9}},
      {{{"EraseStart", 0, true}, {"Program", 0, true}, {"Reset", 5, false}}, "programmed", 1000, {0, 0, 0}},
      {{{"EraseStart", 0, true}, {"Program", 4, true}}, "program_failed", 1000, {0, 0, 0}},
      {{{"EraseStart", 0, true}, {"Program", 4, true}, {"Reset", 0, false}}, "program_failed", 1000, {0, 0, 0}},
      {{{"Reset", 0, false}}, "as_bench", 1100, {2, 1, 7}},
      // A second line run over a device that runs what the first programmed.
      {{{"EraseStart", 0, true}, {"Program", 0, true}, {"Reset", 0, true}, {"EraseStart", 17, true}},
       "erasing", 1000, {0, 0, 0}},
  };
  const Bench bench = TwoDevices();
  for (const Case& c : cases) {
    DeviceMemory m;
    std::string trace;
    for (const Step& step : c.steps) {
      trace += std::string(step.op) + " " + std::to_string(step.status) + "; ";
      SCOPED_TRACE(trace);
      EXPECT_EQ(Apply(m, step), step.changes);
    }
    SCOPED_TRACE(trace);
    EXPECT_STREQ(FlashName(m.flash), c.flash);
    const BenchDevice shown = RememberedDevice(bench.devices[0], m);
    EXPECT_EQ(shown.state, c.state);
    EXPECT_EQ(std::vector<uint16_t>(shown.code_version, shown.code_version + 3), c.code_version);
    EXPECT_EQ(shown.serial, 42);
  }
}

TEST(BenchStateTest, TheFileReadsBackAsItWasWritten) {
  const Bench bench = TwoDevices();
  BenchState state = FreshState(bench, "ab12");
  DeviceMemory& m = state.devices[1];
  AfterEraseStart(m, 0);
  AfterProgram(m, 0, Code129());
  AfterReset(m, 0);
  m.changes = 3;
  m.last = DeviceChange{"Reset", 4, 1234, "{5BBF1FEE-CB75-4C9B-A68E-298D3E8E5E5C}", 1700000000123};
  const std::string text = StateText(state, bench, "C:\\bench.json", 1700000000999);

  BenchState read;
  const StateReading reading = ParseState(text, bench, "ab12", read);
  ASSERT_EQ(reading.problem, StateProblem::kNone) << reading.detail;
  ASSERT_EQ(read.devices.size(), 2u);
  EXPECT_EQ(read.devices[0].flash, Flash::kAsBench);
  EXPECT_FALSE(read.devices[0].last);
  const DeviceMemory& back = read.devices[1];
  EXPECT_EQ(back.flash, Flash::kRunning);
  EXPECT_EQ(std::vector<uint16_t>(back.programmed_version, back.programmed_version + 3),
            (std::vector<uint16_t>{1, 2, 9}));
  EXPECT_EQ(back.programmed_sha256, m.programmed_sha256);
  EXPECT_EQ(back.programmed_sha256.size(), 64u);
  EXPECT_EQ(back.changes, 3u);
  ASSERT_TRUE(back.last);
  EXPECT_EQ(back.last->op, "Reset");
  EXPECT_EQ(back.last->session, 4u);
  EXPECT_EQ(back.last->client_pid, 1234u);
  EXPECT_EQ(back.last->group_uuid, "{5BBF1FEE-CB75-4C9B-A68E-298D3E8E5E5C}");
  EXPECT_EQ(back.last->ms, 1700000000123);
  // What the records show is written out for people and the kit.
  EXPECT_NE(text.find("\"state\": 1200"), std::string::npos) << text;
  EXPECT_NE(text.find("\"bench\": \"C:\\\\bench.json\""), std::string::npos) << text;
}

TEST(BenchStateTest, RefusesAFileThatIsNotThisBenchsWholeState) {
  const Bench bench = TwoDevices();
  BenchState state = FreshState(bench, "ab12");
  AfterEraseStart(state.devices[0], 17);
  const std::string good = StateText(state, bench, "", 1);
  auto replaced = [&](const std::string& from, const std::string& to) {
    std::string text = good;
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
  };
  struct Case {
    std::string text;
    StateProblem problem;
    const char* detail;
  };
  const Case cases[] = {
      {good.substr(0, good.size() / 2), StateProblem::kDamaged, "not whole JSON"},
      {"", StateProblem::kDamaged, "not whole JSON"},
      {"[1]", StateProblem::kDamaged, "not a JSON object"},
      {replaced("\"format\": 1", "\"format\": 2"), StateProblem::kDamaged, "not format 1"},
      {replaced("\"bench_sha256\": \"ab12\"", "\"bench_sha256\": \"cd34\""), StateProblem::kOtherBench, "cd34"},
      {replaced("\"erasing\"", "\"half\""), StateProblem::kDamaged, "device 1: \"flash\" is none"},
      {replaced("\"serial\": 57", "\"serial\": 58"), StateProblem::kDamaged, "device 2: not the bench's device"},
      {replaced("\"changes\": 0", "\"changes\": -1"), StateProblem::kDamaged, "\"changes\" is not a count"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    BenchState read = FreshState(bench, "untouched");
    const StateReading reading = ParseState(c.text, bench, "ab12", read);
    EXPECT_EQ(reading.problem, c.problem);
    EXPECT_NE(reading.detail.find(c.detail), std::string::npos) << reading.detail;
    EXPECT_EQ(read.bench_sha256, "untouched");
  }
  // Another bench of fewer devices: its own SHA-256 already tells.
  Bench one = bench;
  one.devices.pop_back();
  BenchState read;
  EXPECT_EQ(ParseState(good, one, "ab12", read).detail, "not 1 devices");
}

TEST(BenchStateTest, StateFileAndLockNames) {
  const std::pair<std::wstring, std::wstring> paths[] = {
      {L"C:\\runs\\journal.jsonl", L"C:\\runs\\journal.state.json"},
      {L"C:\\runs\\journal", L"C:\\runs\\journal.state.json"},
      {L"C:\\runs.d\\journal", L"C:\\runs.d\\journal.state.json"},
      {L"C:\\runs\\line.2024.jsonl", L"C:\\runs\\line.2024.state.json"},
      {L"C:\\runs\\.jsonl", L"C:\\runs\\.jsonl.state.json"},
  };
  for (const auto& [journal, state] : paths) EXPECT_EQ(StatePathBesideJournal(journal), state);

  const std::wstring a = SharedBenchLockName(L"C:\\Runs\\Journal.state.json");
  EXPECT_EQ(a, SharedBenchLockName(L"c:\\runs\\JOURNAL.STATE.JSON"));
  EXPECT_NE(a, SharedBenchLockName(L"C:\\Runs2\\Journal.state.json"));
  EXPECT_EQ(a.rfind(L"Local\\k27sim-", 0), 0u);
}

}  // namespace
