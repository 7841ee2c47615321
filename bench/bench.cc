#include "bench/bench.h"

#include <nlohmann/json.hpp>

#include <cstdlib>
#include <initializer_list>

#include "model/journal.h"

using nlohmann::json;

namespace {

constexpr const char* kOpNames[] = {
    "CreateInstance", "GetVersion", "LoadProfile", "DetectDevices", "GetIdentities",
    "GetIdentityName", "GetAccessLevelName", "OpenDevice", "OpenCodeProgramming",
    "AcquireGroup", "EraseStart", "ErasePoll", "Program", "Reset",
};

// Bounds no bench needs to pass; they keep a typo from asking for gigabytes.
constexpr uint32_t kMaxElements = 16u << 20;
constexpr uint32_t kMaxDelayMs = 600000;
constexpr uint32_t kRecordSize = model::kDeviceRecordSize;

[[noreturn]] void Fail(const std::string& path, const std::string& what) {
  throw BenchError(path + ": " + what);
}

std::string Member(const std::string& path, const std::string& key) {
  return path.empty() ? key : path + "." + key;
}

std::string Index(const std::string& path, size_t i) { return path + "[" + std::to_string(i) + "]"; }

void CheckObject(const json& v, const std::string& path, std::initializer_list<const char*> keys) {
  if (!v.is_object()) Fail(path, "must be an object");
  for (auto it = v.begin(); it != v.end(); ++it) {
    bool known = false;
    for (const char* key : keys) known = known || it.key() == key;
    if (!known) Fail(Member(path, it.key()), "unknown setting");
  }
}

// A whole number, as a JSON integer or as a string in decimal or 0x-hex
// (hex reads better for HRESULTs and addresses).
int64_t ReadInteger(const json& v, const std::string& path, int64_t min, int64_t max) {
  int64_t value = 0;
  if (v.is_number_integer()) {
    if (v.is_number_unsigned() && v.get<uint64_t>() > static_cast<uint64_t>(INT64_MAX)) {
      Fail(path, "out of range");
    }
    value = v.get<int64_t>();
  } else if (v.is_string()) {
    const std::string text = v.get<std::string>();
    const char* start = text.c_str();
    bool negative = false;
    if (*start == '-') {
      negative = true;
      ++start;
    }
    int base = 10;
    if (start[0] == '0' && (start[1] == 'x' || start[1] == 'X')) {
      base = 16;
      start += 2;
    }
    if (*start == '\0' || *start == ' ' || *start == '+' || *start == '-') Fail(path, "not a number");
    char* end = nullptr;
    errno = 0;
    const unsigned long long magnitude = std::strtoull(start, &end, base);
    if (*end != '\0') Fail(path, "not a number");
    if (errno != 0 || magnitude > static_cast<unsigned long long>(INT64_MAX)) Fail(path, "out of range");
    value = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
  } else {
    Fail(path, "must be a whole number");
  }
  if (value < min || value > max) {
    Fail(path, "out of range " + std::to_string(min) + " to " + std::to_string(max));
  }
  return value;
}

uint16_t Read16(const json& v, const std::string& path) {
  return static_cast<uint16_t>(ReadInteger(v, path, 0, 0xFFFF));
}
uint32_t Read32(const json& v, const std::string& path) {
  return static_cast<uint32_t>(ReadInteger(v, path, 0, 0xFFFFFFFFll));
}

// HRESULTs are written either way: -2147467259 or "0x80004005".
int32_t ReadHresult(const json& v, const std::string& path) {
  const int64_t value = ReadInteger(v, path, INT32_MIN, 0xFFFFFFFFll);
  return static_cast<int32_t>(static_cast<uint32_t>(value));
}

bool ReadBool(const json& v, const std::string& path) {
  if (!v.is_boolean()) Fail(path, "must be true or false");
  return v.get<bool>();
}

std::string ReadText(const json& v, const std::string& path) {
  if (!v.is_string()) Fail(path, "must be a string");
  return v.get<std::string>();
}

BenchName ReadName(const json& v, const std::string& path) {
  BenchName name;
  if (v.is_null()) {
    name.null = true;
  } else {
    name.text = ReadText(v, path);
  }
  return name;
}

uint16_t ReadVartype(const json& v, const std::string& path) {
  static const std::pair<const char*, uint16_t> kNames[] = {
      {"VT_I2", kVtI2}, {"VT_I4", kVtI4}, {"VT_I1", kVtI1},
      {"VT_UI1", kVtUi1}, {"VT_UI2", kVtUi2}, {"VT_UI4", kVtUi4},
  };
  if (v.is_string()) {
    for (const auto& [name, vt] : kNames) {
      if (v.get<std::string>() == name) return vt;
    }
  } else if (v.is_number_integer()) {
    const int64_t n = ReadInteger(v, path, 0, 0xFFFF);
    for (const auto& [name, vt] : kNames) {
      if (n == vt) return vt;
    }
  }
  Fail(path, "element type must be one of VT_UI1, VT_UI2, VT_UI4, VT_I1, VT_I2, VT_I4");
}

std::vector<uint8_t> ReadHex(const json& v, const std::string& path) {
  std::vector<uint8_t> bytes;
  switch (ParseHexBytes(ReadText(v, path), bytes)) {
    case HexProblem::kNotHex:
      Fail(path, "not hex digits");
    case HexProblem::kOddDigits:
      Fail(path, "odd number of hex digits");
    case HexProblem::kNone:
      break;
  }
  return bytes;
}

ArrayShape ReadShape(const json& v, const std::string& path, bool elements_allowed) {
  if (elements_allowed) {
    CheckObject(v, path, {"null", "vartype", "count", "lower_bound", "elements"});
  } else {
    CheckObject(v, path, {"null", "vartype", "count", "lower_bound"});
  }
  ArrayShape shape;
  if (v.contains("null")) shape.null = ReadBool(v["null"], Member(path, "null"));
  if (v.contains("vartype")) shape.vartype = ReadVartype(v["vartype"], Member(path, "vartype"));
  if (v.contains("count")) {
    shape.count = static_cast<uint32_t>(ReadInteger(v["count"], Member(path, "count"), 0, kMaxElements));
  }
  if (v.contains("lower_bound")) {
    shape.lower_bound = static_cast<int32_t>(
        ReadInteger(v["lower_bound"], Member(path, "lower_bound"), INT32_MIN, INT32_MAX));
  }
  if (v.contains("elements")) {
    const json& list = v["elements"];
    const std::string list_path = Member(path, "elements");
    if (!list.is_array()) Fail(list_path, "must be a list");
    if (list.size() > kMaxElements) Fail(list_path, "too long");
    std::vector<uint16_t> elements;
    for (size_t i = 0; i < list.size(); ++i) elements.push_back(Read16(list[i], Index(list_path, i)));
    shape.elements = std::move(elements);
  }
  return shape;
}

Identity ReadIdentity(const json& v, const std::string& path) {
  CheckObject(v, path, {"kind", "number", "level", "name"});
  for (const char* key : {"kind", "number", "level"}) {
    if (!v.contains(key)) Fail(Member(path, key), "missing");
  }
  Identity identity;
  identity.kind = Read16(v["kind"], Member(path, "kind"));
  identity.number = Read16(v["number"], Member(path, "number"));
  identity.level = Read16(v["level"], Member(path, "level"));
  if (v.contains("name")) identity.name = ReadName(v["name"], Member(path, "name"));
  return identity;
}

Op ReadOpKey(const std::string& key, const std::string& path) {
  const std::optional<Op> op = OpFromName(key);
  if (!op) Fail(path, "no such operation");
  return *op;
}

// Status words by operation: a list, or one number for a list of one.
std::map<Op, std::vector<uint16_t>> ReadStatuses(const json& status, const std::string& at) {
  if (!status.is_object()) Fail(at, "must be an object of operation: status words");
  std::map<Op, std::vector<uint16_t>> statuses;
  for (auto it = status.begin(); it != status.end(); ++it) {
    const std::string path = Member(at, it.key());
    const Op op = ReadOpKey(it.key(), path);
    if (!HasStatusWord(op)) Fail(path, "this operation gives no status word");
    std::vector<uint16_t> words;
    if (it.value().is_array()) {
      if (it.value().empty()) Fail(path, "needs at least one status word");
      for (size_t i = 0; i < it.value().size(); ++i) words.push_back(Read16(it.value()[i], Index(path, i)));
    } else {
      words.push_back(Read16(it.value(), path));
    }
    statuses[op] = std::move(words);
  }
  return statuses;
}

BenchDevice ReadDevice(const json& v, const std::string& path, size_t index) {
  CheckObject(v, path,
              {"locator", "endpoint_first", "endpoint_second", "group_id", "family", "boot_branch",
               "boot_version", "state", "serial", "identity_scope", "identity_qualifier",
               "code_version", "label", "patches", "identities", "identity_list", "access_levels", "status"});
  BenchDevice d;
  // Defaults that keep devices apart when a bench does not care: each has
  // its own locator, endpoint, group and identity qualifier.
  const uint32_t position = static_cast<uint32_t>(index + 1);
  d.locator = position;
  d.endpoint_first = 0x0A000000u + position;
  d.endpoint_second = 1;
  d.group_id = 0x100u + position;
  d.identity_scope = 1;
  d.identity_qualifier = static_cast<uint16_t>(position);
  d.family = "K27";
  if (v.contains("locator")) d.locator = Read32(v["locator"], Member(path, "locator"));
  if (v.contains("endpoint_first")) d.endpoint_first = Read32(v["endpoint_first"], Member(path, "endpoint_first"));
  if (v.contains("endpoint_second")) {
    d.endpoint_second = Read16(v["endpoint_second"], Member(path, "endpoint_second"));
  }
  if (v.contains("group_id")) d.group_id = Read32(v["group_id"], Member(path, "group_id"));
  if (v.contains("family")) d.family = ReadText(v["family"], Member(path, "family"));
  if (v.contains("boot_branch")) d.boot_branch = Read16(v["boot_branch"], Member(path, "boot_branch"));
  if (v.contains("boot_version")) d.boot_version = Read16(v["boot_version"], Member(path, "boot_version"));
  if (v.contains("state")) d.state = Read16(v["state"], Member(path, "state"));
  if (v.contains("serial")) {
    // Signed on the device; a 32-bit hex pattern is accepted as its bits.
    const int64_t serial = ReadInteger(v["serial"], Member(path, "serial"), INT32_MIN, 0xFFFFFFFFll);
    d.serial = static_cast<int32_t>(static_cast<uint32_t>(serial));
  }
  if (v.contains("identity_scope")) d.identity_scope = Read16(v["identity_scope"], Member(path, "identity_scope"));
  if (v.contains("identity_qualifier")) {
    d.identity_qualifier = Read16(v["identity_qualifier"], Member(path, "identity_qualifier"));
  }
  if (v.contains("code_version")) {
    const json& list = v["code_version"];
    const std::string list_path = Member(path, "code_version");
    if (!list.is_array() || list.size() != 3) Fail(list_path, "must be a list of three numbers");
    for (size_t i = 0; i < 3; ++i) d.code_version[i] = Read16(list[i], Index(list_path, i));
  }
  if (v.contains("label")) d.label = ReadText(v["label"], Member(path, "label"));
  if (v.contains("patches")) {
    const json& list = v["patches"];
    const std::string list_path = Member(path, "patches");
    if (!list.is_array()) Fail(list_path, "must be a list");
    for (size_t i = 0; i < list.size(); ++i) {
      const std::string item = Index(list_path, i);
      CheckObject(list[i], item, {"offset", "hex"});
      if (!list[i].contains("offset") || !list[i].contains("hex")) Fail(item, "needs offset and hex");
      RecordPatch patch;
      patch.offset = static_cast<uint32_t>(ReadInteger(list[i]["offset"], Member(item, "offset"), 0, kRecordSize));
      patch.bytes = ReadHex(list[i]["hex"], Member(item, "hex"));
      if (patch.bytes.size() > kRecordSize - patch.offset) {
        Fail(item, "runs past the end of the " + std::to_string(kRecordSize) + "-byte record");
      }
      d.patches.push_back(std::move(patch));
    }
  }
  if (v.contains("identities")) {
    const json& list = v["identities"];
    const std::string list_path = Member(path, "identities");
    if (!list.is_array()) Fail(list_path, "must be a list");
    for (size_t i = 0; i < list.size(); ++i) d.identities.push_back(ReadIdentity(list[i], Index(list_path, i)));
  }
  if (v.contains("identity_list")) d.identity_list = ReadShape(v["identity_list"], Member(path, "identity_list"), true);
  if (v.contains("access_levels")) {
    const json& levels = v["access_levels"];
    const std::string levels_path = Member(path, "access_levels");
    if (!levels.is_object()) Fail(levels_path, "must be an object of level: name");
    for (auto it = levels.begin(); it != levels.end(); ++it) {
      const std::string item = Member(levels_path, it.key());
      const uint16_t level = Read16(json(it.key()), item);
      d.access_level_names[level] = ReadName(it.value(), item);
    }
  }
  if (v.contains("status")) d.statuses = ReadStatuses(v["status"], Member(path, "status"));
  return d;
}

Fault ReadFault(const json& v, const std::string& path, Op op) {
  CheckObject(v, path, {"hresult", "crash", "no_reference", "call"});
  Fault fault;
  int kinds = 0;
  if (v.contains("hresult")) {
    fault.kind = Fault::Kind::kHresult;
    fault.hresult = ReadHresult(v["hresult"], Member(path, "hresult"));
    ++kinds;
  }
  if (v.contains("crash")) {
    if (!ReadBool(v["crash"], Member(path, "crash"))) Fail(Member(path, "crash"), "only true makes sense");
    fault.kind = Fault::Kind::kCrash;
    ++kinds;
  }
  if (v.contains("no_reference")) {
    if (!ReadBool(v["no_reference"], Member(path, "no_reference"))) {
      Fail(Member(path, "no_reference"), "only true makes sense");
    }
    if (op != Op::kCreateInstance && op != Op::kOpenDevice && op != Op::kOpenCodeProgramming) {
      Fail(Member(path, "no_reference"), "only CreateInstance, OpenDevice and OpenCodeProgramming give references");
    }
    fault.kind = Fault::Kind::kNoReference;
    ++kinds;
  }
  if (kinds != 1) Fail(path, "needs exactly one of hresult, crash, no_reference");
  if (v.contains("call")) {
    fault.call = static_cast<uint32_t>(ReadInteger(v["call"], Member(path, "call"), 1, 0xFFFFFFFFll));
  }
  return fault;
}


}  // namespace

const char* OpName(Op op) { return kOpNames[static_cast<int>(op)]; }

std::optional<Op> OpFromName(std::string_view name) {
  for (size_t i = 0; i < std::size(kOpNames); ++i) {
    if (name == kOpNames[i]) return static_cast<Op>(i);
  }
  return std::nullopt;
}

bool HasStatusWord(Op op) { return model::TouchesDevice(OpName(op)); }

Bench ParseBench(std::string_view json_text) {
  json root;
  try {
    root = json::parse(json_text);
  } catch (const json::parse_error& e) {
    throw BenchError(std::string("not valid JSON: ") + e.what());
  }
  CheckObject(root, "bench", {"comment", "shared", "server_version", "devices", "detect_response", "faults", "status", "delay_ms"});
  Bench bench;
  if (root.contains("shared")) bench.shared = ReadBool(root["shared"], "shared");
  if (root.contains("server_version")) {
    const json& v = root["server_version"];
    CheckObject(v, "server_version", {"major", "minor"});
    if (!v.contains("major") || !v.contains("minor")) Fail("server_version", "needs major and minor");
    bench.version_major = Read16(v["major"], "server_version.major");
    bench.version_minor = Read16(v["minor"], "server_version.minor");
  }
  if (root.contains("devices")) {
    const json& list = root["devices"];
    if (!list.is_array()) Fail("devices", "must be a list");
    for (size_t i = 0; i < list.size(); ++i) bench.devices.push_back(ReadDevice(list[i], Index("devices", i), i));
  }
  if (root.contains("detect_response")) bench.detect_response = ReadShape(root["detect_response"], "detect_response", false);
  if (root.contains("faults")) {
    const json& faults = root["faults"];
    if (!faults.is_object()) Fail("faults", "must be an object of operation: fault");
    for (auto it = faults.begin(); it != faults.end(); ++it) {
      const std::string path = Member("faults", it.key());
      const Op op = ReadOpKey(it.key(), path);
      if (it.value().is_array()) {
        for (size_t i = 0; i < it.value().size(); ++i) {
          bench.faults[op].push_back(ReadFault(it.value()[i], Index(path, i), op));
        }
      } else {
        bench.faults[op].push_back(ReadFault(it.value(), path, op));
      }
    }
  }
  if (root.contains("status")) bench.statuses = ReadStatuses(root["status"], "status");
  if (root.contains("delay_ms")) {
    const json& delays = root["delay_ms"];
    if (!delays.is_object()) Fail("delay_ms", "must be an object of operation: milliseconds");
    for (auto it = delays.begin(); it != delays.end(); ++it) {
      const std::string path = Member("delay_ms", it.key());
      bench.delay_ms[ReadOpKey(it.key(), path)] = static_cast<uint32_t>(ReadInteger(it.value(), path, 0, kMaxDelayMs));
    }
  }
  return bench;
}

HexProblem ParseHexBytes(std::string_view text, std::vector<uint8_t>& bytes) {
  std::string digits;
  for (char c : text) {
    if (c == ' ') continue;
    if (!std::isxdigit(static_cast<unsigned char>(c))) return HexProblem::kNotHex;
    digits += c;
  }
  if (digits.size() % 2 != 0) return HexProblem::kOddDigits;
  for (size_t i = 0; i < digits.size(); i += 2) {
    bytes.push_back(static_cast<uint8_t>(std::strtoul(digits.substr(i, 2).c_str(), nullptr, 16)));
  }
  return HexProblem::kNone;
}
