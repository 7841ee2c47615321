#include "bench/call_plan.h"

#include <algorithm>

// The status words a server gives when the bench says nothing: every
// operation succeeds, and the erase runs until its first poll.
static uint16_t DefaultStatus(Op op) { return op == Op::kEraseStart ? 17 : 0; }

uint16_t NthStatus(const std::vector<uint16_t>& words, uint32_t call) {
  return words[std::min<size_t>(call, words.size()) - 1];
}

CallAction CallPlan::Next(Op op) {
  CallAction action;
  action.call = ++calls_[op];
  if (auto it = bench_.delay_ms.find(op); it != bench_.delay_ms.end()) action.delay_ms = it->second;
  if (HasStatusWord(op)) {
    action.status = DefaultStatus(op);
    if (auto it = bench_.statuses.find(op); it != bench_.statuses.end()) {
      action.status = NthStatus(it->second, action.call);
    }
  }
  if (auto it = bench_.faults.find(op); it != bench_.faults.end()) {
    for (const Fault& fault : it->second) {
      if (fault.call != 0 && fault.call != action.call) continue;
      switch (fault.kind) {
        case Fault::Kind::kHresult:
          action.hresult = fault.hresult;
          action.by_fault = true;
          if (fault.hresult < 0) action.kind = CallAction::Kind::kFail;
          break;
        case Fault::Kind::kCrash:
          action.kind = CallAction::Kind::kCrash;
          break;
        case Fault::Kind::kNoReference:
          action.kind = CallAction::Kind::kNoReference;
          break;
      }
      break;
    }
  }
  return action;
}
