// IDeviceServer and its class factory.

#include <objbase.h>

#include "bench/response.h"
#include "bench_memory.h"
#include "com_object.h"
#include "device_interface.h"
#include "k27server.h"
#include "lib/wide_text.h"
#include "safe_arrays.h"
#include "server_objects.h"
#include "server_state.h"

using nlohmann::json;

namespace {

constexpr HRESULT kNotFound = HRESULT_FROM_WIN32(ERROR_NOT_FOUND);

BSTR MakeName(const BenchName& name) { return name.null ? nullptr : SysAllocString(Wide(name.text).c_str()); }

json NameOut(BSTR name) {
  if (!name) return {{"name", nullptr}};
  return {{"name", Utf8(std::wstring(name, SysStringLen(name)))}};
}

class DeviceServer : public ComObject<IDeviceServer> {
 public:
  using ComObject::ComObject;

  HRESULT STDMETHODCALLTYPE Unused1() override { return PlaceholderCall("IDeviceServer.Unused1", session()); }
  HRESULT STDMETHODCALLTYPE Unused2() override { return PlaceholderCall("IDeviceServer.Unused2", session()); }
  HRESULT STDMETHODCALLTYPE Unused3() override { return PlaceholderCall("IDeviceServer.Unused3", session()); }
  HRESULT STDMETHODCALLTYPE Unused4() override { return PlaceholderCall("IDeviceServer.Unused4", session()); }
  HRESULT STDMETHODCALLTYPE Unused5() override { return PlaceholderCall("IDeviceServer.Unused5", session()); }
  HRESULT STDMETHODCALLTYPE Unused6() override { return PlaceholderCall("IDeviceServer.Unused6", session()); }

  HRESULT STDMETHODCALLTYPE GetIdentities(USHORT scope, USHORT qualifier, ULONG a, ULONG b, ULONG c,
                                          LPSAFEARRAY* identities) override {
    Call call(Op::kGetIdentities, {{"scope", scope}, {"qualifier", qualifier}, {"a", a}, {"b", b}, {"c", c}},
              session());
    if (!identities) return call.Finish(E_POINTER);
    *identities = nullptr;
    if (call.Failing()) return call.Finish(call.AnswerCode());
    const ServerState& s = State();
    int found = -1;
    for (size_t i = 0; i < s.bench.devices.size() && found < 0; ++i) {
      const BenchDevice& d = s.bench.devices[i];
      if (d.identity_scope == scope && d.identity_qualifier == qualifier) found = static_cast<int>(i);
    }
    if (found < 0) return call.Finish(kNotFound, {}, "no device with that identity scope and qualifier");
    SetIdentitiesDevice(found);
    const ArrayContents list = IdentityList(s.bench.devices[static_cast<size_t>(found)]);
    HRESULT hr = S_OK;
    *identities = MakeSafeArray(list, &hr);
    if (FAILED(hr)) return call.Finish(hr);
    return call.Finish(call.AnswerCode(), {{"identities", DescribeHandedOut(list)}, {"device", found}});
  }

  HRESULT STDMETHODCALLTYPE GetAccessLevelName(USHORT level, BSTR* name) override {
    Call call(Op::kGetAccessLevelName, {{"level", level}}, session());
    if (!name) return call.Finish(E_POINTER);
    *name = nullptr;
    if (call.Failing()) return call.Finish(call.AnswerCode());
    const BenchDevice* device = NamingDevice();
    if (device && device->access_level_names.count(level)) {
      *name = MakeName(device->access_level_names.at(level));
    } else {
      *name = SysAllocString(Wide("Access level " + std::to_string(level)).c_str());
    }
    return call.Finish(call.AnswerCode(), NameOut(*name));
  }

  HRESULT STDMETHODCALLTYPE GetIdentityName(USHORT kind, USHORT number, BSTR* name) override {
    Call call(Op::kGetIdentityName, {{"kind", kind}, {"number", number}}, session());
    if (!name) return call.Finish(E_POINTER);
    *name = nullptr;
    if (call.Failing()) return call.Finish(call.AnswerCode());
    const BenchName* given = nullptr;
    if (const BenchDevice* device = NamingDevice()) {
      for (const Identity& identity : device->identities) {
        if (identity.kind == kind && identity.number == number && identity.name) {
          given = &*identity.name;
          break;
        }
      }
    }
    *name = given ? MakeName(*given)
                  : SysAllocString(Wide("Identity " + std::to_string(kind) + "." + std::to_string(number)).c_str());
    return call.Finish(call.AnswerCode(), NameOut(*name));
  }

  HRESULT STDMETHODCALLTYPE LoadProfile(LPSAFEARRAY profile) override {
    const ReceivedArray received = ReadSafeArray(profile);
    Call call(Op::kLoadProfile, {{"profile", DescribeReceived(received, "LoadProfile")}}, session());
    if (call.Failing()) return call.Finish(call.AnswerCode());
    if (received.null) return call.Finish(E_POINTER);
    if (received.dims != 1 || received.vartype != VT_UI1 || received.lower_bound != 0) {
      return call.Finish(E_INVALIDARG, {}, "the profile must be a one-dimensional VT_UI1 array from index 0");
    }
    return call.Finish(call.AnswerCode());
  }

  HRESULT STDMETHODCALLTYPE DetectDevices(LPSAFEARRAY* response) override {
    Call call(Op::kDetectDevices, json::object(), session());
    if (!response) return call.Finish(E_POINTER);
    *response = nullptr;
    if (call.Failing()) return call.Finish(call.AnswerCode());
    // A shared bench lists its devices as the runs before left them.
    const ArrayContents contents = DetectResponse(State().shared ? RememberedBench() : State().bench);
    HRESULT hr = S_OK;
    *response = MakeSafeArray(contents, &hr);
    if (FAILED(hr)) return call.Finish(hr);
    return call.Finish(call.AnswerCode(), {{"response", DescribeHandedOut(contents)},
                                           {"devices", State().bench.devices.size()}});
  }

  HRESULT STDMETHODCALLTYPE OpenDevice(ULONG locator, DeviceEndpoint endpoint, IDeviceInterface** device) override {
    Call call(Op::kOpenDevice,
              {{"locator", locator}, {"endpoint_first", endpoint.first}, {"endpoint_second", endpoint.second}},
              session());
    if (!device) return call.Finish(E_POINTER);
    *device = nullptr;
    if (call.Failing()) return call.Finish(call.AnswerCode());
    if (call.NoReference()) return call.Finish(S_OK, {{"reference", false}});
    const std::vector<BenchDevice>& devices = State().bench.devices;
    for (size_t i = 0; i < devices.size(); ++i) {
      const BenchDevice& d = devices[i];
      if (d.locator == locator && d.endpoint_first == endpoint.first && d.endpoint_second == endpoint.second) {
        *device = NewDeviceInterface(static_cast<int>(i), shared_session());
        return call.Finish(call.AnswerCode(), {{"reference", true}, {"device", i}});
      }
    }
    return call.Finish(kNotFound, {}, "no device at that locator and endpoint");
  }

  HRESULT STDMETHODCALLTYPE GetVersion(USHORT* major, USHORT* minor) override {
    Call call(Op::kGetVersion, json::object(), session());
    if (!major || !minor) return call.Finish(E_POINTER);
    *major = 0;
    *minor = 0;
    if (call.Failing()) return call.Finish(call.AnswerCode());
    *major = State().bench.version_major;
    *minor = State().bench.version_minor;
    return call.Finish(call.AnswerCode(), {{"major", *major}, {"minor", *minor}});
  }

 private:
  // The device whose identities and names the server speaks of: the one the
  // run asked for last, else the first.
  const BenchDevice* NamingDevice() {
    const std::vector<BenchDevice>& devices = State().bench.devices;
    AcquireSRWLockShared(&session()->lock);
    const int asked = session()->identities_device;
    ReleaseSRWLockShared(&session()->lock);
    if (asked >= 0) return &devices[static_cast<size_t>(asked)];
    return devices.empty() ? nullptr : &devices.front();
  }
  void SetIdentitiesDevice(int device) {
    AcquireSRWLockExclusive(&session()->lock);
    session()->identities_device = device;
    ReleaseSRWLockExclusive(&session()->lock);
  }
};

class Factory : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
      *out = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  // The factory is never freed: it lives as long as the process.
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
    const CreationInProgress creating;
    Call call(Op::kCreateInstance, {{"iid", GuidText(riid)}, {"outer", outer != nullptr}}, nullptr);
    if (!out) return call.Finish(E_POINTER);
    *out = nullptr;
    if (!State().refusal.empty()) {
      // Journaled before the server is told to end, so that its Exit follows.
      const HRESULT refused = call.Finish(CLASS_E_CLASSNOTAVAILABLE, {}, State().refusal.c_str());
      SetEvent(RefusedEvent());
      return refused;
    }
    if (!State().bench_ok) return call.Finish(CLASS_E_CLASSNOTAVAILABLE, {}, State().bench_error.c_str());
    if (call.Failing()) return call.Finish(call.AnswerCode());
    if (outer) return call.Finish(CLASS_E_NOAGGREGATION);
    if (call.NoReference()) return call.Finish(S_OK, {{"reference", false}});
    // Each creation starts a run of its own.
    const std::shared_ptr<Session> session = NewSession(call.TakeCreator());
    call.BelongsTo(session.get());
    DeviceServer* server = new DeviceServer(session);
    HRESULT hr = server->QueryInterface(riid, out);
    server->Release();
    if (FAILED(hr)) return call.Finish(hr);
    return call.Finish(call.AnswerCode(), {{"reference", true}});
  }

  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock) {
      ObjectCreated();
    } else {
      ObjectDestroyed();
    }
    return S_OK;
  }
};

}  // namespace

IClassFactory* ServerFactory() {
  static Factory factory;
  return &factory;
}

void HoldInterfaces() {
  struct Held {
    IUnknown* object;
    REFIID iid;
  } held[] = {{ServerFactory(), IID_IClassFactory},
              {static_cast<IDeviceServer*>(new DeviceServer(nullptr, Counted::kNo)), IID_IDeviceServer},
              {NewSpareDeviceInterface(), IID_IDeviceInterface},
              {NewSpareCodeProgramming(), IID_ICodeProgramming}};
  for (const Held& h : held) {
    // Marshalled for good into a stream that is never released: no client
    // ever gets these references.
    IStream* stream = nullptr;
    if (SUCCEEDED(CreateStreamOnHGlobal(nullptr, TRUE, &stream)))
      CoMarshalInterface(stream, h.iid, h.object, MSHCTX_LOCAL, nullptr, MSHLFLAGS_TABLESTRONG);
  }
}
