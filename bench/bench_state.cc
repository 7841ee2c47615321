#include "bench/bench_state.h"

#include <nlohmann/json.hpp>

#include <cwctype>
#include <iterator>

#include "lib/sha256.h"
#include "lib/wide_text.h"
#include "model/block_layout.h"

using nlohmann::json;

namespace {

constexpr const char* kFlashNames[] = {"as_bench", "erasing", "erased", "erase_failed",
                                       "programmed", "program_failed", "running"};
constexpr uint16_t kBusy = 17;

std::optional<Flash> FlashFromName(const std::string& name) {
  for (size_t i = 0; i < std::size(kFlashNames); ++i) {
    if (name == kFlashNames[i]) return static_cast<Flash>(i);
  }
  return std::nullopt;
}

// The code flash's old content is going: what a run programmed before is
// forgotten with it.
void CodeGone(DeviceMemory& memory, Flash flash) {
  memory.flash = flash;
  memory.programmed_sha256.clear();
  for (uint16_t& v : memory.programmed_version) v = 0;
}

bool IsWhole(const json& v, int64_t max) {
  return v.is_number_integer() && v.get<int64_t>() >= 0 && v.get<int64_t>() <= max;
}

// One device's entry; empty when it reads, else what is wrong with it.
std::string ReadDevice(const json& v, const BenchDevice& device, DeviceMemory& memory) {
  if (!v.is_object()) return "not an object";
  if (!v.contains("serial") || v["serial"] != device.serial || !v.contains("locator") ||
      v["locator"] != device.locator)
    return "not the bench's device (serial and locator differ)";
  const std::optional<Flash> flash = v.contains("flash") && v["flash"].is_string()
                                         ? FlashFromName(v["flash"].get<std::string>())
                                         : std::nullopt;
  if (!flash) return "\"flash\" is none of the known names";
  memory.flash = *flash;
  const json& version = v.value("programmed_version", json());
  if (!version.is_array() || version.size() != 3) return "\"programmed_version\" is not three numbers";
  for (size_t i = 0; i < 3; ++i) {
    if (!IsWhole(version[i], 0xFFFF)) return "\"programmed_version\" is not three 16-bit numbers";
    memory.programmed_version[i] = version[i].get<uint16_t>();
  }
  const json& sha = v.value("programmed_sha256", json());
  if (!sha.is_string()) return "\"programmed_sha256\" is not a text";
  memory.programmed_sha256 = sha.get<std::string>();
  if (!IsWhole(v.value("changes", json()), 0xFFFFFFFFll)) return "\"changes\" is not a count";
  memory.changes = v["changes"].get<uint32_t>();
  const json& last = v.value("last_change", json());
  if (last.is_null()) return memory.changes == 0 ? "" : "\"last_change\" is missing";
  if (!last.is_object() || !last.value("op", json()).is_string() || !last.value("group_uuid", json()).is_string() ||
      !IsWhole(last.value("session", json()), 0xFFFFFFFFll) || !IsWhole(last.value("client_pid", json()), 0xFFFFFFFFll) ||
      !IsWhole(last.value("ms", json()), INT64_MAX))
    return "\"last_change\" is not op, session, client_pid, group_uuid and ms";
  memory.last = DeviceChange{last["op"].get<std::string>(), last["session"].get<uint32_t>(),
                             last["client_pid"].get<uint32_t>(), last["group_uuid"].get<std::string>(),
                             last["ms"].get<int64_t>()};
  return "";
}

}  // namespace

const char* FlashName(Flash flash) { return kFlashNames[static_cast<int>(flash)]; }

std::string BenchSha256(std::string_view utf8_text) {
  return Sha256Hex(reinterpret_cast<const uint8_t*>(utf8_text.data()), utf8_text.size());
}

BenchState FreshState(const Bench& bench, const std::string& bench_sha256) {
  BenchState state;
  state.bench_sha256 = bench_sha256;
  state.devices.resize(bench.devices.size());
  return state;
}

BenchDevice RememberedDevice(const BenchDevice& device, const DeviceMemory& memory) {
  BenchDevice shown = device;
  if (memory.flash == Flash::kAsBench) return shown;
  const bool running = memory.flash == Flash::kRunning;
  shown.state = running ? kRunningState : kNoCodeState;
  for (size_t i = 0; i < 3; ++i) shown.code_version[i] = running ? memory.programmed_version[i] : 0;
  return shown;
}

bool AfterEraseStart(DeviceMemory& memory, uint16_t status) {
  // Any other word: the device did not start the erase.
  if (status != 0 && status != kBusy) return false;
  CodeGone(memory, status == 0 ? Flash::kErased : Flash::kErasing);
  return true;
}

bool AfterErasePoll(DeviceMemory& memory, uint16_t status) {
  if (memory.flash != Flash::kErasing || status == kBusy) return false;
  memory.flash = status == 0 ? Flash::kErased : Flash::kEraseFailed;
  return true;
}

bool AfterProgram(DeviceMemory& memory, uint16_t status, const std::vector<uint8_t>& code) {
  if (status != 0) {
    CodeGone(memory, Flash::kProgramFailed);
    return true;
  }
  memory.flash = Flash::kProgrammed;
  // The code version the block's own header gives; a block too short to
  // hold it programs a version of zeros.
  const size_t at[3] = {model::kCodeBranchAt, model::kCodeVersionAt, model::kCodeRevisionAt};
  for (size_t i = 0; i < 3; ++i) {
    memory.programmed_version[i] =
        code.size() >= at[i] + 2 ? static_cast<uint16_t>(model::GetBig(code.data() + at[i], 2)) : 0;
  }
  memory.programmed_sha256 = Sha256Hex(code.data(), code.size());
  return true;
}

bool AfterReset(DeviceMemory& memory, uint16_t status) {
  // A reset starts the programmed code; of a device with no code, or with
  // the bench's own, it changes nothing that the record shows.
  if (status != 0 || memory.flash != Flash::kProgrammed) return false;
  memory.flash = Flash::kRunning;
  return true;
}

std::string StateText(const BenchState& state, const Bench& bench, const std::string& bench_name, int64_t written_ms) {
  json devices = json::array();
  for (size_t i = 0; i < state.devices.size() && i < bench.devices.size(); ++i) {
    const DeviceMemory& m = state.devices[i];
    const BenchDevice shown = RememberedDevice(bench.devices[i], m);
    json d = {{"serial", shown.serial},
              {"locator", shown.locator},
              {"group_id", shown.group_id},
              {"state", shown.state},
              {"code_version", {shown.code_version[0], shown.code_version[1], shown.code_version[2]}},
              {"flash", FlashName(m.flash)},
              {"programmed_version", {m.programmed_version[0], m.programmed_version[1], m.programmed_version[2]}},
              {"programmed_sha256", m.programmed_sha256},
              {"changes", m.changes},
              {"last_change", nullptr}};
    if (m.last) {
      d["last_change"] = {{"op", m.last->op},
                          {"session", m.last->session},
                          {"client_pid", m.last->client_pid},
                          {"group_uuid", m.last->group_uuid},
                          {"ms", m.last->ms}};
    }
    devices.push_back(std::move(d));
  }
  const json root = {{"format", kStateFormat},
                     {"bench", bench_name},
                     {"bench_sha256", state.bench_sha256},
                     {"written_ms", written_ms},
                     {"devices", std::move(devices)}};
  return root.dump(1) + "\n";
}

StateReading ParseState(std::string_view text, const Bench& bench, const std::string& bench_sha256, BenchState& state) {
  auto damaged = [](const std::string& what) { return StateReading{StateProblem::kDamaged, what}; };
  const json root = json::parse(text, nullptr, false);
  if (root.is_discarded()) return damaged("not whole JSON");
  if (!root.is_object()) return damaged("not a JSON object");
  if (root.value("format", json()) != kStateFormat) return damaged("not format " + std::to_string(kStateFormat));
  const json& sha = root.value("bench_sha256", json());
  if (!sha.is_string()) return damaged("no \"bench_sha256\"");
  if (sha.get<std::string>() != bench_sha256) return StateReading{StateProblem::kOtherBench, sha.get<std::string>()};
  const json& devices = root.value("devices", json());
  if (!devices.is_array() || devices.size() != bench.devices.size()) {
    return damaged("not " + std::to_string(bench.devices.size()) + " devices");
  }
  BenchState read = FreshState(bench, bench_sha256);
  for (size_t i = 0; i < devices.size(); ++i) {
    const std::string problem = ReadDevice(devices[i], bench.devices[i], read.devices[i]);
    if (!problem.empty()) return damaged("device " + std::to_string(i + 1) + ": " + problem);
  }
  state = std::move(read);
  return {};
}

std::wstring StatePathBesideJournal(const std::wstring& journal) {
  const size_t name = journal.find_last_of(L"\\/");
  const size_t dot = journal.find_last_of(L'.');
  const bool has_extension = dot != std::wstring::npos && (name == std::wstring::npos || dot > name + 1);
  return (has_extension ? journal.substr(0, dot) : journal) + L".state.json";
}

std::wstring SharedBenchLockName(const std::wstring& full_path) {
  std::wstring folded = full_path;
  for (wchar_t& c : folded) c = static_cast<wchar_t>(std::towupper(c));
  const std::string utf8 = Utf8(folded);
  const std::string hex = Sha256Hex(reinterpret_cast<const uint8_t*>(utf8.data()), utf8.size());
  // Each user's session has its own: COM starts a user's server in it.
  return L"Local\\k27sim-shared-bench-" + Wide(hex.substr(0, 32));
}
