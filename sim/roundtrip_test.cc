// The simulator through real COM: a client in this process creates the
// server with CoCreateInstance(CLSCTX_LOCAL_SERVER), so every call crosses
// into a k27sim.exe process and back through the proxy/stub DLL. In-values
// are checked from the server's journal, out-values here. Needs k27ps.dll
// and k27sim.exe registered in the prefix (scripts/register).

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <rpc.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "k27server.h"
#include "lib/com_text.h"
#include "lib/sha256.h"
#include "lib/wide_text.h"
#include "model/journal.h"

namespace {

using nlohmann::json;
namespace fs = std::filesystem;

// The folder of this test program (build/sim; k27sim.exe is in build/bin).
std::wstring ProgramFolder() {
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, length);
  return folder.substr(0, folder.find_last_of(L"\\/"));
}

// Runs k27sim.exe with the arguments and returns its exit status.
DWORD RunSimulator(const std::wstring& args) {
  std::wstring line = L"\"" + ProgramFolder() + L"\\..\\bin\\k27sim.exe\" " + args;
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    ADD_FAILURE() << "cannot start k27sim.exe: " << GetLastError();
    return 255;
  }
  WaitForSingleObject(process.hProcess, 60000);
  DWORD status = 255;
  GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return status;
}

// One server's world: a fresh folder with the bench file and the journal,
// registered with the simulator, so that the servers COM starts from now
// on play that bench and journal there.
class SimRun {
 public:
  explicit SimRun(const std::string& bench) {
    static int serial = 0;
    dir_ = fs::temp_directory_path() /
           ("k27sim-test-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++serial));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    std::ofstream(dir_ / "bench.json") << bench;
    EXPECT_EQ(RunSimulator(L"/RegServer /bench \"" + (dir_ / "bench.json").wstring() + L"\" /journal \"" +
                           (dir_ / "journal.jsonl").wstring() + L"\""),
              0u);
  }
  ~SimRun() {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  // Writes over the bench file after registration (registration refuses a
  // bench it cannot play).
  void ReplaceBench(const std::string& bench) const { std::ofstream(dir_ / "bench.json") << bench; }

  std::vector<json> Journal() const {
    std::ifstream in(dir_ / "journal.jsonl", std::ios::binary);
    return model::ParseJournal(std::string(std::istreambuf_iterator<char>(in), {}));
  }
  std::vector<json> Lines(const std::string& op) const {
    std::vector<json> found;
    for (json& line : Journal()) {
      if (line["op"] == op) found.push_back(std::move(line));
    }
    return found;
  }
  json Last(const std::string& op) const {
    const std::vector<json> found = Lines(op);
    return found.empty() ? json() : found.back();
  }
  // Waits until the journal holds a line of the operation.
  json WaitFor(const std::string& op, int ms = 8000) const {
    for (int waited = 0; waited < ms; waited += 50) {
      const json line = Last(op);
      if (!line.is_null()) return line;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return json();
  }
  std::vector<uint8_t> File(const std::string& name) const {
    std::ifstream in(dir_ / name, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  fs::path dir_;
};

class RoundTripTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK); }
  void TearDown() override { CoUninitialize(); }
};

HRESULT Create(IDeviceServer** server) {
  *server = nullptr;
  return CoCreateInstance(CLSID_DeviceServerClass, nullptr, CLSCTX_LOCAL_SERVER, IID_IDeviceServer,
                          reinterpret_cast<void**>(server));
}

std::vector<uint8_t> Pattern(size_t size) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + (i >> 8) + (i >> 16));
  return bytes;
}

SAFEARRAY* ByteArray(const std::vector<uint8_t>& bytes) {
  SAFEARRAYBOUND bound{static_cast<ULONG>(bytes.size()), 0};
  SAFEARRAY* array = SafeArrayCreate(VT_UI1, 1, &bound);
  void* data = nullptr;
  SafeArrayAccessData(array, &data);
  std::memcpy(data, bytes.data(), bytes.size());
  SafeArrayUnaccessData(array);
  return array;
}

struct Received {
  VARTYPE vartype = VT_EMPTY;
  LONG lower = 0;
  LONG count = 0;
  std::vector<uint8_t> bytes;
};

Received Read(SAFEARRAY* array) {
  Received r;
  EXPECT_EQ(SafeArrayGetDim(array), 1u);
  SafeArrayGetVartype(array, &r.vartype);
  LONG upper = 0;
  SafeArrayGetLBound(array, 1, &r.lower);
  SafeArrayGetUBound(array, 1, &upper);
  r.count = upper - r.lower + 1;
  void* data = nullptr;
  EXPECT_EQ(SafeArrayLock(array), S_OK);
  data = array->pvData;
  const size_t size = static_cast<size_t>(r.count) * SafeArrayGetElemsize(array);
  if (size) r.bytes.assign(static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + size);
  SafeArrayUnlock(array);
  return r;
}

std::string Text(BSTR name) { return name ? Utf8(std::wstring(name, SysStringLen(name))) : "(null)"; }

// The bench of the first test: values with their high bits set, so that a
// narrowed, sign-extended or byte-swapped value shows.
const char* kWideBench = R"({
  "server_version": {"major": "0x8001", "minor": "0xFFFE"},
  "devices": [{
    "locator": "0xFEDCBA98", "endpoint_first": "0x89ABCDEF", "endpoint_second": "0xFEDC",
    "group_id": "0xC0FFEE01", "family": "K27", "boot_branch": 1, "boot_version": 3, "state": 1200,
    "serial": -42, "identity_scope": "0xA55A", "identity_qualifier": "0x8001", "code_version": [2, 1, 7],
    "label": "Bench",
    "identities": [{"kind": "0x8001", "number": "0x7FFE", "level": 0, "name": "Ingénieur de production"},
                   {"kind": 2, "number": "0xFFFF", "level": 3, "name": null}],
    "access_levels": {"0": "Code programming ✓", "3": null}
  }],
  "status": {"AcquireGroup": 0, "EraseStart": 17, "ErasePoll": [17, 0], "Program": 0, "Reset": 5}
})";

TEST_F(RoundTripTest, EveryOperationCarriesItsValuesBothWays) {
  SimRun run(kWideBench);
  IDeviceServer* server = nullptr;
  ASSERT_EQ(Create(&server), S_OK);
  ASSERT_NE(server, nullptr);

  USHORT major = 0, minor = 0;
  ASSERT_EQ(server->GetVersion(&major, &minor), S_OK);
  EXPECT_EQ(major, 0x8001);
  EXPECT_EQ(minor, 0xFFFE);

  const std::vector<uint8_t> profile = Pattern(93544);
  SAFEARRAY* profile_array = ByteArray(profile);
  ASSERT_EQ(server->LoadProfile(profile_array), S_OK);
  SafeArrayDestroy(profile_array);

  SAFEARRAY* response = nullptr;
  ASSERT_EQ(server->DetectDevices(&response), S_OK);
  ASSERT_NE(response, nullptr);
  const Received detect = Read(response);
  SafeArrayDestroy(response);
  EXPECT_EQ(detect.vartype, VT_UI1);
  EXPECT_EQ(detect.lower, 0);
  ASSERT_EQ(detect.count, 1256);
  const uint8_t locator[] = {0x98, 0xBA, 0xDC, 0xFE};
  const uint8_t endpoint[] = {0xEF, 0xCD, 0xAB, 0x89, 0xDC, 0xFE};
  const uint8_t serial[] = {0xD6, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(0, std::memcmp(detect.bytes.data() + 0, locator, 4));
  EXPECT_EQ(0, std::memcmp(detect.bytes.data() + 4, endpoint, 6));
  EXPECT_EQ(0, std::memcmp(detect.bytes.data() + 88, serial, 4));
  EXPECT_EQ(0, std::memcmp(detect.bytes.data() + 16, "K27", 4));
  EXPECT_EQ(0, std::memcmp(detect.bytes.data() + 168, "Bench", 6));

  SAFEARRAY* identities = nullptr;
  ASSERT_EQ(server->GetIdentities(0xA55A, 0x8001, 0, 0, 1, &identities), S_OK);
  ASSERT_NE(identities, nullptr);
  const Received ids = Read(identities);
  SafeArrayDestroy(identities);
  EXPECT_EQ(ids.vartype, VT_UI2);
  EXPECT_EQ(ids.lower, 0);
  ASSERT_EQ(ids.count, 6);
  const uint8_t triples[] = {0x01, 0x80, 0xFE, 0x7F, 0, 0, 2, 0, 0xFF, 0xFF, 3, 0};
  EXPECT_EQ(0, std::memcmp(ids.bytes.data(), triples, sizeof triples));

  BSTR name = nullptr;
  ASSERT_EQ(server->GetIdentityName(0x8001, 0x7FFE, &name), S_OK);
  EXPECT_EQ(Text(name), "Ingénieur de production");
  SysFreeString(name);
  name = reinterpret_cast<BSTR>(1);
  ASSERT_EQ(server->GetIdentityName(2, 0xFFFF, &name), S_OK);
  EXPECT_EQ(name, nullptr);
  ASSERT_EQ(server->GetAccessLevelName(0, &name), S_OK);
  EXPECT_EQ(Text(name), "Code programming ✓");
  SysFreeString(name);
  name = reinterpret_cast<BSTR>(1);
  ASSERT_EQ(server->GetAccessLevelName(3, &name), S_OK);
  EXPECT_EQ(name, nullptr);

  IDeviceInterface* device = nullptr;
  ASSERT_EQ(server->OpenDevice(0xFEDCBA98, DeviceEndpoint{0x89ABCDEF, 0xFEDC}, &device), S_OK);
  ASSERT_NE(device, nullptr);
  ICodeProgramming* programming = nullptr;
  ASSERT_EQ(device->OpenCodeProgramming(0xA55A, 0x7FFE, &programming), S_OK);
  ASSERT_NE(programming, nullptr);

  UUID group_uuid;
  UuidCreate(&group_uuid);
  ULONG group_out = 0;
  USHORT status = 0xFFFF;
  ASSERT_EQ(programming->AcquireGroup(0xC0FFEE01, &group_uuid, &group_out, &status), S_OK);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(group_out, 0x6000u + 0xC0FFEE01u);
  ASSERT_EQ(programming->EraseStart(0, 0xFFFFFFFF, &status), S_OK);
  EXPECT_EQ(status, 17);
  ASSERT_EQ(programming->ErasePoll(&status), S_OK);
  EXPECT_EQ(status, 17);
  ASSERT_EQ(programming->ErasePoll(&status), S_OK);
  EXPECT_EQ(status, 0);
  const std::vector<uint8_t> code = Pattern(142180);
  SAFEARRAY* code_array = ByteArray(code);
  status = 0xFFFF;
  ASSERT_EQ(programming->Program(0x80000, 142180, code_array, &status), S_OK);
  SafeArrayDestroy(code_array);
  EXPECT_EQ(status, 0);
  ASSERT_EQ(programming->Reset(&status), S_OK);
  EXPECT_EQ(status, 5);

  programming->Release();
  device->Release();
  server->Release();

  // What reached the server, in order.
  std::vector<std::string> ops;
  for (const json& line : run.Journal()) ops.push_back(line["op"]);
  const std::vector<std::string> expected = {
      "Start", "CreateInstance", "Client", "GetVersion", "LoadProfile", "DetectDevices", "GetIdentities",
      "GetIdentityName", "GetIdentityName", "GetAccessLevelName", "GetAccessLevelName", "OpenDevice",
      "OpenCodeProgramming", "AcquireGroup", "EraseStart", "ErasePoll", "ErasePoll", "Program", "Reset"};
  ASSERT_GE(ops.size(), expected.size());
  EXPECT_EQ(std::vector<std::string>(ops.begin(), ops.begin() + expected.size()), expected);
  // The server learnt its client from the first call on an object it handed
  // out (not from the creation, which the COM service makes on Windows), not
  // from who started it.
  EXPECT_EQ(run.Last("Client")["client_pid"], GetCurrentProcessId());

  const json load = run.Last("LoadProfile")["args"]["profile"];
  EXPECT_EQ(load["vartype"], VT_UI1);
  EXPECT_EQ(load["lower_bound"], 0);
  EXPECT_EQ(load["count"], 93544);
  EXPECT_EQ(load["sha256"], Sha256Hex(profile.data(), profile.size()));
  EXPECT_EQ(run.File(load["file"]), profile);

  const json get = run.Last("GetIdentities")["args"];
  EXPECT_EQ(get, (json{{"scope", 0xA55A}, {"qualifier", 0x8001}, {"a", 0}, {"b", 0}, {"c", 1}}));
  const std::vector<json> names = run.Lines("GetIdentityName");
  EXPECT_EQ(names[0]["args"], (json{{"kind", 0x8001}, {"number", 0x7FFE}}));
  EXPECT_EQ(names[1]["args"], (json{{"kind", 2}, {"number", 0xFFFF}}));
  EXPECT_EQ(run.Lines("GetAccessLevelName")[1]["args"]["level"], 3);

  const json open = run.Last("OpenDevice")["args"];
  EXPECT_EQ(open, (json{{"locator", 0xFEDCBA98u}, {"endpoint_first", 0x89ABCDEFu}, {"endpoint_second", 0xFEDC}}));
  const json open_code = run.Last("OpenCodeProgramming")["args"];
  EXPECT_EQ(open_code["scope"], 0xA55A);
  EXPECT_EQ(open_code["identity"], 0x7FFE);

  const json acquire = run.Last("AcquireGroup")["args"];
  EXPECT_EQ(acquire["group_id"], 0xC0FFEE01u);
  EXPECT_EQ(acquire["group_uuid"], GuidText(group_uuid));
  EXPECT_EQ(run.Last("EraseStart")["args"], (json{{"first", 0}, {"second", 0xFFFFFFFFu}}));

  const json program = run.Last("Program")["args"];
  EXPECT_EQ(program["address"], 0x80000);
  EXPECT_EQ(program["length"], 142180);
  EXPECT_EQ(program["code"]["count"], 142180);
  EXPECT_EQ(program["code"]["lower_bound"], 0);
  EXPECT_EQ(program["code"]["sha256"], Sha256Hex(code.data(), code.size()));
  EXPECT_EQ(run.File(program["code"]["file"]), code);

  // Once everything is released the server ends itself, and it wrote
  // nothing but its journal and the arrays it received.
  EXPECT_EQ(run.WaitFor("Exit")["reason"], "released");
  EXPECT_EQ(run.Files(), (std::vector<std::string>{"LoadProfile-1.bin", "Program-1.bin", "bench.json", "journal.jsonl"}));
}

// A device that the tool's identity can program.
const char* kPlainDevice = R"({"serial": 42, "state": 1200, "boot_branch": 1, "boot_version": 3,
  "identities": [{"kind": 1, "number": 12, "level": 0}, {"kind": 1, "number": 11, "level": 2}]})";

std::string BenchWith(const std::string& rest) {
  return std::string(R"({"devices": [)") + kPlainDevice + "]" + (rest.empty() ? "" : ", " + rest) + "}";
}

TEST_F(RoundTripTest, CreationFailsAsTheBenchSays) {
  {
    // Ends inside the creation: the call fails on its way back.
    SimRun run(BenchWith(R"("faults": {"CreateInstance": {"crash": true}})"));
    IDeviceServer* server = reinterpret_cast<IDeviceServer*>(1);
    EXPECT_EQ(Create(&server), static_cast<HRESULT>(0x800706BE));
    EXPECT_EQ(server, nullptr);
  }
  // A bench that cannot be played refuses creation and says why.
  SimRun run(BenchWith(""));
  run.ReplaceBench(R"({"devices": [{"serail": 42}]})");
  IDeviceServer* server = nullptr;
  EXPECT_EQ(Create(&server), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_NE(run.Last("Start")["error"].get<std::string>().find("devices[0].serail: unknown setting"), std::string::npos);
}

TEST_F(RoundTripTest, TheSimulatedDeviceRefusesWorkOutOfOrder) {
  SimRun run(BenchWith(""));
  IDeviceServer* server = nullptr;
  IDeviceInterface* device = nullptr;
  ICodeProgramming* programming = nullptr;
  ASSERT_EQ(Create(&server), S_OK);
  ASSERT_EQ(server->OpenDevice(1, DeviceEndpoint{0x0A000001, 1}, &device), S_OK);
  ASSERT_EQ(device->OpenCodeProgramming(1, 12, &programming), S_OK);
  USHORT status = 0;
  ULONG group_out = 0;
  GUID group = {};
  const std::vector<uint8_t> code = Pattern(64);
  SAFEARRAY* array = ByteArray(code);
  EXPECT_EQ(programming->EraseStart(0, 0xFFFFFFFF, &status), S_OK);
  EXPECT_EQ(status, 0x0103);  // no group held
  EXPECT_EQ(programming->AcquireGroup(0x102, &group, &group_out, &status), S_OK);
  EXPECT_EQ(status, 0x0102);  // another device's group
  EXPECT_EQ(group_out, 0u);
  EXPECT_EQ(programming->AcquireGroup(0x101, &group, &group_out, &status), S_OK);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(programming->Program(0x80000, 64, array, &status), S_OK);
  EXPECT_EQ(status, 0x0104);  // not erased
  EXPECT_EQ(programming->EraseStart(0, 0xFFFFFFFF, &status), S_OK);
  EXPECT_EQ(status, 17);
  EXPECT_EQ(programming->ErasePoll(&status), S_OK);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(programming->Program(0x80000, 65, array, &status), E_INVALIDARG);
  EXPECT_EQ(programming->Program(0x80004, 64, array, &status), S_OK);
  EXPECT_EQ(status, 0x0106);
  EXPECT_EQ(programming->Program(0x80000, 64, array, &status), S_OK);
  EXPECT_EQ(status, 0);
  SafeArrayDestroy(array);

  ICodeProgramming* other = reinterpret_cast<ICodeProgramming*>(1);
  EXPECT_EQ(device->OpenCodeProgramming(1, 11, &other), E_ACCESSDENIED);  // level 2
  EXPECT_EQ(device->OpenCodeProgramming(2, 12, &other), E_ACCESSDENIED);  // another scope
  EXPECT_EQ(other, nullptr);
  IDeviceInterface* missing = reinterpret_cast<IDeviceInterface*>(1);
  EXPECT_EQ(server->OpenDevice(1, DeviceEndpoint{0x0A000001, 2}, &missing), HRESULT_FROM_WIN32(ERROR_NOT_FOUND));
  EXPECT_EQ(missing, nullptr);
  // A slot the tool never calls answers E_NOTIMPL, and the journal says
  // which slot was reached.
  EXPECT_EQ(server->Unused4(), E_NOTIMPL);
  EXPECT_EQ(device->Unused26(), E_NOTIMPL);
  EXPECT_EQ(programming->Unused1(), E_NOTIMPL);
  programming->Release();
  device->Release();
  server->Release();
  EXPECT_FALSE(run.Last("IDeviceServer.Unused4").is_null());
  EXPECT_FALSE(run.Last("IDeviceInterface.Unused26").is_null());
  EXPECT_FALSE(run.Last("ICodeProgramming.Unused1").is_null());
}

}  // namespace
