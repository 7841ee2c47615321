#ifndef K27_BENCH_CALL_PLAN_H_
#define K27_BENCH_CALL_PLAN_H_

// Decides, call by call, what the simulator does with an operation: answer
// normally (with which status word, after how long), fail with an HRESULT,
// give no reference, or end the server process.

#include <cstdint>
#include <map>
#include <vector>

#include "bench/bench.h"

struct CallAction {
  enum class Kind { kAnswer, kFail, kNoReference, kCrash };
  Kind kind = Kind::kAnswer;
  uint32_t call = 0;      // this call's number for its operation, from 1
  int32_t hresult = 0;    // kAnswer: the (success) code to return; kFail: the failure
  bool by_fault = false;  // a bench fault gave the code, a success code too
  uint16_t status = 0;    // the status word, for operations that give one
  uint32_t delay_ms = 0;  // time the operation takes before it answers
};

// The status word of the `call`th call (from 1) of a list: the last one
// repeats.
uint16_t NthStatus(const std::vector<uint16_t>& words, uint32_t call);

class CallPlan {
 public:
  explicit CallPlan(const Bench& bench) : bench_(bench) {}
  // Counts the call and says what to do with it. The first fault that names
  // this call (or every call) wins; a success HRESULT in a fault still
  // answers normally, with that code.
  CallAction Next(Op op);

 private:
  const Bench& bench_;
  std::map<Op, uint32_t> calls_;
};

#endif  // K27_BENCH_CALL_PLAN_H_
