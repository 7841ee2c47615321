#include "support/fake_server.h"

#include <cstring>
#include <string>

namespace {

std::string Numbers(std::initializer_list<unsigned long> values) {
  std::string text = "(";
  for (unsigned long v : values) {
    if (text.size() > 1) text += ",";
    text += std::to_string(v);
  }
  return text + ")";
}

}  // namespace

SAFEARRAY* MakeByteArray(const std::vector<uint8_t>& bytes, LONG lower_bound) {
  SAFEARRAYBOUND bound = {static_cast<ULONG>(bytes.size()), lower_bound};
  SAFEARRAY* array = SafeArrayCreate(VT_UI1, 1, &bound);
  if (!bytes.empty()) std::memcpy(array->pvData, bytes.data(), bytes.size());
  return array;
}

SAFEARRAY* MakeUi2Array(const std::vector<uint16_t>& values, LONG lower_bound) {
  SAFEARRAYBOUND bound = {static_cast<ULONG>(values.size()), lower_bound};
  SAFEARRAY* array = SafeArrayCreate(VT_UI2, 1, &bound);
  if (!values.empty()) std::memcpy(array->pvData, values.data(), values.size() * 2);
  return array;
}

std::vector<uint8_t> DetectResponseOf(const std::vector<DeviceRecord>& devices) {
  std::vector<uint8_t> bytes;
  for (const DeviceRecord& d : devices) bytes.insert(bytes.end(), d.bytes, d.bytes + kDeviceRecordSize);
  return bytes;
}

HRESULT InertCodeProgramming::AcquireGroup(ULONG, const GUID*, ULONG*, unsigned short*) {
  return E_NOTIMPL;
}
HRESULT InertCodeProgramming::Unused1() { return E_NOTIMPL; }
HRESULT InertCodeProgramming::EraseStart(ULONG, ULONG, unsigned short*) { return E_NOTIMPL; }
HRESULT InertCodeProgramming::ErasePoll(unsigned short*) { return E_NOTIMPL; }
HRESULT InertCodeProgramming::Program(ULONG, ULONG, LPSAFEARRAY, unsigned short*) {
  return E_NOTIMPL;
}
HRESULT InertCodeProgramming::Reset(unsigned short*) { return E_NOTIMPL; }

HRESULT FakeDeviceInterface::OpenCodeProgramming(unsigned short scope, unsigned short identity,
                                                 ICodeProgramming** out) {
  if (log) log->push_back("OpenCodeProgramming" + Numbers({scope, identity}));
  *out = programming;
  return open_hr;
}

FakeDeviceServer::FakeDeviceServer() {
  device.log = &calls;
  detect_response = [this] { return MakeByteArray(DetectResponseOf(devices)); };
  identity_list = [this] { return MakeUi2Array(identities); };
  identity_name = [](unsigned short kind, unsigned short number, BSTR* name) {
    *name = SysAllocString(
        (L"Identity " + std::to_wstring(kind) + L"." + std::to_wstring(number)).c_str());
    return S_OK;
  };
  level_name = [](unsigned short level, BSTR* name) {
    *name = SysAllocString((L"Level " + std::to_wstring(level)).c_str());
    return S_OK;
  };
}

FakeDeviceServer::~FakeDeviceServer() {
  for (SAFEARRAY* array : handed_out_) {
    // Undo what a test did to make the array unusable, then let it go.
    array->cLocks = 0;
    if (array->cDims == 0) array->cDims = 1;
    SafeArrayDestroy(array);
  }
}

SAFEARRAY* FakeDeviceServer::HandOut(SAFEARRAY* array) {
  // The fake's own lock, taken directly: a test may have set the count to
  // where the tool's lock fails.
  if (array) {
    ++array->cLocks;
    handed_out_.push_back(array);
  }
  return array;
}

std::vector<ULONG> FakeDeviceServer::ToolLocks() const {
  std::vector<ULONG> locks;
  for (SAFEARRAY* array : handed_out_) locks.push_back(array->cLocks - 1);
  return locks;
}

HRESULT FakeDeviceServer::GetIdentities(unsigned short scope, unsigned short qualifier, ULONG a,
                                        ULONG b, ULONG c, LPSAFEARRAY* out) {
  calls.push_back("GetIdentities" + Numbers({scope, qualifier, a, b, c}));
  *out = HandOut(identity_list());
  return identities_hr;
}

HRESULT FakeDeviceServer::GetAccessLevelName(unsigned short level, BSTR* name) {
  calls.push_back("GetAccessLevelName" + Numbers({level}));
  return level_name(level, name);
}

HRESULT FakeDeviceServer::GetIdentityName(unsigned short kind, unsigned short number, BSTR* name) {
  calls.push_back("GetIdentityName" + Numbers({kind, number}));
  return identity_name(kind, number, name);
}

HRESULT FakeDeviceServer::LoadProfile(LPSAFEARRAY profile) {
  calls.push_back("LoadProfile");
  SentArrayView view;
  if (profile) {
    SafeArrayGetVartype(profile, &view.type);
    view.dimensions = SafeArrayGetDim(profile);
    view.count = profile->rgsabound[0].cElements;
    view.lower_bound = profile->rgsabound[0].lLbound;
    view.locks = profile->cLocks;
    const uint8_t* data = static_cast<const uint8_t*>(profile->pvData);
    if (data) view.bytes.assign(data, data + view.count);
  }
  loaded.push_back(view);
  return load_profile_hr;
}

HRESULT FakeDeviceServer::DetectDevices(LPSAFEARRAY* out) {
  calls.push_back("DetectDevices");
  *out = HandOut(detect_response());
  return detect_hr;
}

HRESULT FakeDeviceServer::OpenDevice(ULONG locator, DeviceEndpoint endpoint, IDeviceInterface** out) {
  calls.push_back("OpenDevice" + Numbers({locator, endpoint.first, endpoint.second}));
  *out = open_device_null ? nullptr : &device;
  return open_device_hr;
}

HRESULT FakeDeviceServer::GetVersion(unsigned short* out_major, unsigned short* out_minor) {
  calls.push_back("GetVersion");
  *out_major = major;
  *out_minor = minor;
  return version_hr;
}
