// IDeviceInterface and ICodeProgramming: one simulated device, opened, and
// its code flash as the tool programs it.

#include "device_interface.h"

#include "bench/response.h"
#include "bench_memory.h"
#include "com_object.h"
#include "model/block_layout.h"
#include "safe_arrays.h"
#include "server_state.h"

using nlohmann::json;

namespace {

const BenchDevice& DeviceAt(int index) { return State().bench.devices[static_cast<size_t>(index)]; }

// The triples the server handed out for the device, as it checks access.
bool MayProgram(const BenchDevice& device, uint16_t identity) {
  const std::vector<uint16_t> elements = IdentityElements(device);
  for (size_t i = 0; i + 3 <= elements.size(); i += 3) {
    if (elements[i + 1] == identity && elements[i + 2] == 0) return true;
  }
  return false;
}

class CodeProgramming : public ComObject<ICodeProgramming> {
 public:
  CodeProgramming(int device, std::shared_ptr<Session> session, Counted counted = Counted::kYes)
      : ComObject(std::move(session), counted), device_(device) {}

  HRESULT STDMETHODCALLTYPE Unused1() override { return PlaceholderCall("ICodeProgramming.Unused1", session()); }

  HRESULT STDMETHODCALLTYPE AcquireGroup(ULONG group_id, const GUID* group_uuid, ULONG* group_out,
                                         USHORT* status) override {
    const std::string uuid = group_uuid ? GuidText(*group_uuid) : std::string();
    // The run's UUID names its calls from here on, this one included.
    if (group_uuid && State().shared) {
      AcquireSRWLockExclusive(&session()->lock);
      session()->group_uuid = uuid;
      ReleaseSRWLockExclusive(&session()->lock);
    }
    Call call(Op::kAcquireGroup, {{"group_id", group_id}, {"group_uuid", group_uuid ? json(uuid) : json(nullptr)}},
              session());
    if (!group_uuid || !group_out || !status) return call.Finish(E_POINTER);
    *group_out = 0;
    *status = 0;
    if (call.Failing()) return call.Finish(call.AnswerCode());
    uint16_t word = Scripted(call);
    if (group_id != DeviceAt(device_).group_id) word = kStatusWrongGroup;
    // On a shared bench the group is the device's lock against every other
    // run: taken here unless another run holds it.
    if (word == 0 && State().shared && !AcquireGroupFor(*session(), group_id, uuid)) word = kStatusGroupBusy;
    group_held_ = word == 0;
    *group_out = group_held_ ? 0x6000u + group_id : 0;
    *status = word;
    return call.Finish(call.AnswerCode(), {{"group_out", *group_out}, {"status", word}});
  }

  HRESULT STDMETHODCALLTYPE EraseStart(ULONG first, ULONG second, USHORT* status) override {
    Call call(Op::kEraseStart, {{"first", first}, {"second", second}}, session());
    if (!status) return call.Finish(E_POINTER);
    *status = 0;
    if (call.Failing()) return call.Finish(call.AnswerCode());
    uint16_t word = Scripted(call);
    const bool held = GroupHeld();
    if (!held) word = kStatusGroupNotHeld;
    erase_ = word == 0 ? Erase::kDone : word == 17 ? Erase::kRunning : Erase::kNone;
    if (held) Remember(call, Op::kEraseStart, [word](DeviceMemory& m) { return AfterEraseStart(m, word); });
    *status = word;
    return call.Finish(call.AnswerCode(), {{"status", word}});
  }

  HRESULT STDMETHODCALLTYPE ErasePoll(USHORT* status) override {
    Call call(Op::kErasePoll, json::object(), session());
    if (!status) return call.Finish(E_POINTER);
    *status = 0;
    if (call.Failing()) return call.Finish(call.AnswerCode());
    uint16_t word = Scripted(call);
    if (!GroupHeld()) {
      // A run that lost its group (its client gone) polls no erase.
      word = kStatusGroupNotHeld;
    } else if (erase_ != Erase::kRunning) {
      word = erase_ == Erase::kDone ? 0 : kStatusNoEraseRunning;
    } else {
      erase_ = word == 0 ? Erase::kDone : word == 17 ? Erase::kRunning : Erase::kNone;
      Remember(call, Op::kErasePoll, [word](DeviceMemory& m) { return AfterErasePoll(m, word); });
    }
    *status = word;
    return call.Finish(call.AnswerCode(), {{"status", word}});
  }

  HRESULT STDMETHODCALLTYPE Program(ULONG address, ULONG length, LPSAFEARRAY code, USHORT* status) override {
    const ReceivedArray received = ReadSafeArray(code);
    Call call(Op::kProgram, {{"address", address}, {"length", length}, {"code", DescribeReceived(received, "Program")}},
              session());
    if (!status) return call.Finish(E_POINTER);
    *status = 0;
    if (call.Failing()) return call.Finish(call.AnswerCode());
    if (received.null) return call.Finish(E_POINTER);
    if (received.dims != 1 || received.vartype != VT_UI1 || received.lower_bound != 0 ||
        received.count != length) {
      return call.Finish(E_INVALIDARG, {},
                         "the code must be a one-dimensional VT_UI1 array from index 0 of the length given");
    }
    const uint16_t scripted = Scripted(call);
    uint16_t word = scripted;
    if (address != model::kCodeBase) word = kStatusBadAddress;
    if (erase_ != Erase::kDone) word = kStatusNotErased;
    if (!GroupHeld()) word = kStatusGroupNotHeld;
    // Only a program the device took changes it: refused for its order, it
    // never started.
    if (word == scripted) {
      Remember(call, Op::kProgram, [word, &received](DeviceMemory& m) { return AfterProgram(m, word, received.data); });
    }
    *status = word;
    return call.Finish(call.AnswerCode(), {{"status", word}});
  }

  HRESULT STDMETHODCALLTYPE Reset(USHORT* status) override {
    Call call(Op::kReset, json::object(), session());
    if (!status) return call.Finish(E_POINTER);
    *status = 0;
    if (call.Failing()) return call.Finish(call.AnswerCode());
    uint16_t word = Scripted(call);
    if (!GroupHeld()) {
      word = kStatusGroupNotHeld;
    } else {
      Remember(call, Op::kReset, [word](DeviceMemory& m) { return AfterReset(m, word); });
    }
    *status = word;
    return call.Finish(call.AnswerCode(), {{"status", *status}});
  }

 private:
  enum class Erase { kNone, kRunning, kDone };

  // The status word the bench scripts for this call: the device's own
  // words for the operation where it has them, else the bench's.
  uint16_t Scripted(const Call& call) const {
    const auto& own = DeviceAt(device_).statuses;
    const auto found = own.find(call.op());
    return found == own.end() ? call.action().status : NthStatus(found->second, call.action().call);
  }

  // Whether this run holds the device's programming group: on a shared
  // bench as the group table says now (a run whose client is gone has lost
  // it), else as this object acquired it.
  bool GroupHeld() {
    if (!State().shared) return group_held_;
    return group_held_ && SessionHoldsGroup(*session(), DeviceAt(device_).group_id);
  }

  // A shared bench remembers what the device did; the state file's trouble
  // is the journal's to tell.
  void Remember(Call& call, Op op, const std::function<bool(DeviceMemory&)>& change) {
    if (!State().shared) return;
    const std::string error = ChangeDevice(static_cast<size_t>(device_), *session(), op, change);
    if (!error.empty()) call.Note("state_error", error);
  }

  int device_;
  bool group_held_ = false;
  Erase erase_ = Erase::kNone;
};

#define K27_PLACEHOLDER(n) \
  HRESULT STDMETHODCALLTYPE Unused##n() override { return PlaceholderCall("IDeviceInterface.Unused" #n, session()); }

class DeviceInterface : public ComObject<IDeviceInterface> {
 public:
  DeviceInterface(int device, std::shared_ptr<Session> session, Counted counted = Counted::kYes)
      : ComObject(std::move(session), counted), device_(device) {}

  K27_PLACEHOLDER(1) K27_PLACEHOLDER(2) K27_PLACEHOLDER(3) K27_PLACEHOLDER(4) K27_PLACEHOLDER(5)
  K27_PLACEHOLDER(6) K27_PLACEHOLDER(7) K27_PLACEHOLDER(8) K27_PLACEHOLDER(9) K27_PLACEHOLDER(10)
  K27_PLACEHOLDER(11) K27_PLACEHOLDER(12) K27_PLACEHOLDER(13) K27_PLACEHOLDER(14) K27_PLACEHOLDER(15)
  K27_PLACEHOLDER(16) K27_PLACEHOLDER(17) K27_PLACEHOLDER(18) K27_PLACEHOLDER(19) K27_PLACEHOLDER(20)
  K27_PLACEHOLDER(21) K27_PLACEHOLDER(22) K27_PLACEHOLDER(23) K27_PLACEHOLDER(24) K27_PLACEHOLDER(25)
  K27_PLACEHOLDER(26)

  HRESULT STDMETHODCALLTYPE OpenCodeProgramming(USHORT scope, USHORT identity,
                                                ICodeProgramming** programming) override {
    Call call(Op::kOpenCodeProgramming, {{"scope", scope}, {"identity", identity}, {"device", device_}}, session());
    if (!programming) return call.Finish(E_POINTER);
    *programming = nullptr;
    if (call.Failing()) return call.Finish(call.AnswerCode());
    if (call.NoReference()) return call.Finish(S_OK, {{"reference", false}});
    const BenchDevice& device = DeviceAt(device_);
    if (scope != device.identity_scope || !MayProgram(device, identity)) {
      return call.Finish(E_ACCESSDENIED, {}, "that identity may not program this device");
    }
    *programming = new CodeProgramming(device_, shared_session());
    return call.Finish(call.AnswerCode(), {{"reference", true}});
  }

 private:
  int device_;
};

#undef K27_PLACEHOLDER

}  // namespace

IDeviceInterface* NewDeviceInterface(int device, std::shared_ptr<Session> session) {
  return new DeviceInterface(device, std::move(session));
}

IUnknown* NewSpareDeviceInterface() {
  return static_cast<IDeviceInterface*>(new DeviceInterface(0, nullptr, Counted::kNo));
}

IUnknown* NewSpareCodeProgramming() {
  return static_cast<ICodeProgramming*>(new CodeProgramming(0, nullptr, Counted::kNo));
}
