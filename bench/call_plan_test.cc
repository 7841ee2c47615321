#include "bench/call_plan.h"

#include <gtest/gtest.h>

namespace {

using Kind = CallAction::Kind;

TEST(CallPlanTest, FaultsApplyToTheirCallOrEveryCall) {
  const Bench bench = ParseBench(R"({
    "faults": {
      "GetVersion": {"hresult": "0x80004005", "call": 2},
      "DetectDevices": {"hresult": "0x8000FFFF"},
      "Program": [{"crash": true, "call": 3}, {"hresult": "0x80070005", "call": 3}, {"hresult": 1, "call": 1}],
      "OpenDevice": {"no_reference": true, "call": 1}
    }})");
  CallPlan plan(bench);
  struct Step {
    Op op;
    Kind kind;
    int32_t hresult;
    uint32_t call;
    bool by_fault;
  };
  const Step steps[] = {
      {Op::kGetVersion, Kind::kAnswer, 0, 1, false},
      {Op::kGetVersion, Kind::kFail, static_cast<int32_t>(0x80004005u), 2, true},
      {Op::kGetVersion, Kind::kAnswer, 0, 3, false},
      {Op::kDetectDevices, Kind::kFail, static_cast<int32_t>(0x8000FFFFu), 1, true},
      {Op::kDetectDevices, Kind::kFail, static_cast<int32_t>(0x8000FFFFu), 2, true},
      // A success code is an answer, with that code.
      {Op::kProgram, Kind::kAnswer, 1, 1, true},
      {Op::kProgram, Kind::kAnswer, 0, 2, false},
      // The first fault listed for a call wins.
      {Op::kProgram, Kind::kCrash, 0, 3, false},
      {Op::kOpenDevice, Kind::kNoReference, 0, 1, false},
      {Op::kOpenDevice, Kind::kAnswer, 0, 2, false},
      {Op::kReset, Kind::kAnswer, 0, 1, false},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(std::string(OpName(s.op)) + " call " + std::to_string(s.call));
    const CallAction a = plan.Next(s.op);
    EXPECT_EQ(a.call, s.call);
    EXPECT_EQ(a.kind, s.kind);
    EXPECT_EQ(a.hresult, s.hresult);
    EXPECT_EQ(a.by_fault, s.by_fault);
  }
}

TEST(CallPlanTest, StatusWordsStepAndTheLastRepeats) {
  const Bench bench = ParseBench(R"({"status": {"ErasePoll": [17, 17, 0], "Reset": 5},
                                     "delay_ms": {"ErasePoll": 250}})");
  CallPlan plan(bench);
  const uint16_t polls[] = {17, 17, 0, 0};
  for (uint16_t expected : polls) {
    const CallAction a = plan.Next(Op::kErasePoll);
    EXPECT_EQ(a.status, expected);
    EXPECT_EQ(a.delay_ms, 250u);
  }
  EXPECT_EQ(plan.Next(Op::kReset).status, 5);
  EXPECT_EQ(plan.Next(Op::kReset).status, 5);
  // Unscripted: everything succeeds, and an erase runs until its first poll.
  EXPECT_EQ(plan.Next(Op::kEraseStart).status, 17);
  EXPECT_EQ(plan.Next(Op::kAcquireGroup).status, 0);
  EXPECT_EQ(plan.Next(Op::kProgram).status, 0);
  EXPECT_EQ(plan.Next(Op::kProgram).delay_ms, 0u);
}

}  // namespace
