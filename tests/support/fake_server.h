#ifndef K27_SUPPORT_FAKE_SERVER_H_
#define K27_SUPPORT_FAKE_SERVER_H_

// In-process stand-ins for the device server's interfaces, for unit tests.
// They hand out real safe arrays and BSTRs and log every call with its
// arguments, so a test can check order and values.

#include <k27server.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "server/device_record.h"

// Real safe arrays, one-dimensional, filled.
SAFEARRAY* MakeByteArray(const std::vector<uint8_t>& bytes, LONG lower_bound = 0);
SAFEARRAY* MakeUi2Array(const std::vector<uint16_t>& values, LONG lower_bound = 0);
std::vector<uint8_t> DetectResponseOf(const std::vector<DeviceRecord>& devices);

// Counts references and never deletes: the tests own these objects.
template <class Interface>
class FakeUnknown : public Interface {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == __uuidof(Interface)) {
      *out = this;
      ++references;
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
  ULONG STDMETHODCALLTYPE Release() override { return --references; }
  ULONG references = 1;
};

// Answers nothing: the link stages only hand it on.
class InertCodeProgramming : public FakeUnknown<ICodeProgramming> {
 public:
  HRESULT STDMETHODCALLTYPE AcquireGroup(ULONG, const GUID*, ULONG*, unsigned short*) override;
  HRESULT STDMETHODCALLTYPE Unused1() override;
  HRESULT STDMETHODCALLTYPE EraseStart(ULONG, ULONG, unsigned short*) override;
  HRESULT STDMETHODCALLTYPE ErasePoll(unsigned short*) override;
  HRESULT STDMETHODCALLTYPE Program(ULONG, ULONG, LPSAFEARRAY, unsigned short*) override;
  HRESULT STDMETHODCALLTYPE Reset(unsigned short*) override;
};

class FakeDeviceInterface : public FakeUnknown<IDeviceInterface> {
 public:
  std::vector<std::string>* log = nullptr;
  HRESULT open_hr = S_OK;
  // What OpenCodeProgramming hands back (also on failure, to show that the
  // caller does not look).
  ICodeProgramming* programming = &inert_;

  HRESULT STDMETHODCALLTYPE OpenCodeProgramming(unsigned short scope, unsigned short identity,
                                                ICodeProgramming** out) override;
#define K27_UNUSED(n) \
  HRESULT STDMETHODCALLTYPE Unused##n() override { return E_NOTIMPL; }
  K27_UNUSED(1) K27_UNUSED(2) K27_UNUSED(3) K27_UNUSED(4) K27_UNUSED(5) K27_UNUSED(6)
  K27_UNUSED(7) K27_UNUSED(8) K27_UNUSED(9) K27_UNUSED(10) K27_UNUSED(11) K27_UNUSED(12)
  K27_UNUSED(13) K27_UNUSED(14) K27_UNUSED(15) K27_UNUSED(16) K27_UNUSED(17) K27_UNUSED(18)
  K27_UNUSED(19) K27_UNUSED(20) K27_UNUSED(21) K27_UNUSED(22) K27_UNUSED(23) K27_UNUSED(24)
  K27_UNUSED(25) K27_UNUSED(26)
#undef K27_UNUSED

 private:
  InertCodeProgramming inert_;
};

// What LoadProfile saw of the array it was given, during the call.
struct SentArrayView {
  VARTYPE type = VT_EMPTY;
  UINT dimensions = 0;
  LONG lower_bound = -1;
  ULONG count = 0;
  ULONG locks = 0;
  std::vector<uint8_t> bytes;
};

class FakeDeviceServer : public FakeUnknown<IDeviceServer> {
 public:
  FakeDeviceServer();
  ~FakeDeviceServer();

  // Every call, with its arguments: "GetVersion", "LoadProfile",
  // "DetectDevices", "GetIdentities(1,2,0,0,1)", "GetIdentityName(1,5)",
  // "GetAccessLevelName(0)", "OpenDevice(locator,first,second)",
  // "OpenCodeProgramming(scope,identity)"; numbers in decimal.
  std::vector<std::string> calls;

  HRESULT version_hr = S_OK;
  unsigned short major = 2, minor = 0;

  HRESULT load_profile_hr = S_OK;
  std::vector<SentArrayView> loaded;

  // The detect response and identity list; each call hands out the next
  // array made by the function (null: no array). The fake keeps a lock of
  // its own on each, so the array outlives the tool's destroy and the test
  // can look at what the tool left: see ToolLocks.
  HRESULT detect_hr = S_OK;
  std::vector<DeviceRecord> devices;
  std::function<SAFEARRAY*()> detect_response;  // default: the devices above

  HRESULT identities_hr = S_OK;
  std::vector<uint16_t> identities;
  std::function<SAFEARRAY*()> identity_list;  // default: the identities above

  // Names: default "Identity <kind>.<number>" and "Level <level>".
  std::function<HRESULT(unsigned short kind, unsigned short number, BSTR* name)> identity_name;
  std::function<HRESULT(unsigned short level, BSTR* name)> level_name;

  HRESULT open_device_hr = S_OK;
  bool open_device_null = false;
  FakeDeviceInterface device;

  // Locks the tool still holds on the arrays handed out, in order.
  std::vector<ULONG> ToolLocks() const;

  HRESULT STDMETHODCALLTYPE Unused1() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Unused2() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIdentities(unsigned short scope, unsigned short qualifier, ULONG a,
                                          ULONG b, ULONG c, LPSAFEARRAY* out) override;
  HRESULT STDMETHODCALLTYPE Unused3() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Unused4() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Unused5() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetAccessLevelName(unsigned short level, BSTR* name) override;
  HRESULT STDMETHODCALLTYPE GetIdentityName(unsigned short kind, unsigned short number,
                                            BSTR* name) override;
  HRESULT STDMETHODCALLTYPE LoadProfile(LPSAFEARRAY profile) override;
  HRESULT STDMETHODCALLTYPE Unused6() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE DetectDevices(LPSAFEARRAY* out) override;
  HRESULT STDMETHODCALLTYPE OpenDevice(ULONG locator, DeviceEndpoint endpoint,
                                       IDeviceInterface** out) override;
  HRESULT STDMETHODCALLTYPE GetVersion(unsigned short* major, unsigned short* minor) override;

 private:
  SAFEARRAY* HandOut(SAFEARRAY* array);
  std::vector<SAFEARRAY*> handed_out_;
};

// A failure HRESULT that no real call returns, to tell it apart.
constexpr HRESULT kFakeFailure = static_cast<HRESULT>(0x80041234);

#endif  // K27_SUPPORT_FAKE_SERVER_H_
