#include "verdict.h"

#include <algorithm>
#include <numeric>
#include <optional>
#include <set>

#include "model/block_crc.h"
#include "model/block_layout.h"
#include "model/journal.h"
#include "model/outcomes.h"

namespace {

constexpr int64_t kVtUi1 = 17;

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

bool IsBookkeeping(const nlohmann::json& line) {
  const std::string op = line.value("op", "");
  return op == "Start" || op == "Client" || op == "Exit" || op == "RunEnd";
}

std::optional<int64_t> Status(const nlohmann::json& line) {
  if (!line.contains("out") || !line["out"].is_object() || !line["out"].contains("status") ||
      !line["out"]["status"].is_number_integer())
    return std::nullopt;
  return line["out"]["status"].get<int64_t>();
}

bool Failed(const nlohmann::json& line) {
  if (line.value("crash", false)) return true;
  const std::string hr = line.value("hresult", "");
  return hr.size() == 10 && hr.compare(0, 2, "0x") == 0 && std::stoul(hr.substr(2), nullptr, 16) >= 0x80000000u;
}

// The device's own order: group, erase (polled while busy), program, reset,
// and nothing after a step that did not succeed. Also that nothing reaches
// the device before the code-programming interface is open, and nothing at
// all before the outcome's stage allows it.
void CheckDeviceOrder(const ScenarioRun& scenario, const std::vector<nlohmann::json>& journal,
                      std::vector<std::string>& out) {
  const model::Outcome* outcome = model::FindOutcome(scenario.outcome);
  if (outcome && outcome->stage == model::OutcomeStage::kImage && !journal.empty()) {
    out.push_back("the device server was started, though the run ends at the image with " + Quoted(scenario.outcome));
    return;
  }
  const bool device_allowed = !outcome || outcome->stage == model::OutcomeStage::kDevice ||
                              outcome->stage == model::OutcomeStage::kAnyCall;
  enum { kNoGroup, kGroup, kErasing, kErased, kProgrammed, kOver } state = kNoGroup;
  bool open = false;
  std::string last;  // what the device last answered, for the message
  for (const nlohmann::json& line : journal) {
    const std::string op = line.value("op", "");
    if (op == "OpenCodeProgramming" && !Failed(line) && line.contains("out") &&
        line["out"].value("reference", false))
      open = true;
    if (!model::TouchesDevice(op)) continue;
    if (!device_allowed) {
      out.push_back(op + " reached the device, though the run ends with " + Quoted(scenario.outcome) +
                    " before the device may be touched");
      return;
    }
    if (!open) {
      out.push_back(op + " reached the device before the code-programming interface was open");
      return;
    }
    const bool allowed = (state == kNoGroup && op == "AcquireGroup") || (state == kGroup && op == "EraseStart") ||
                         (state == kErasing && op == "ErasePoll") || (state == kErased && op == "Program") ||
                         (state == kProgrammed && op == "Reset");
    if (!allowed) {
      const char* where = state == kNoGroup     ? "before the programming group was held"
                          : state == kGroup     ? "with the group held and no erase started"
                          : state == kErasing   ? "while the erase was still running"
                          : state == kErased    ? "after the erase, before programming"
                          : state == kProgrammed ? "after programming, before the reset"
                                                 : "after the run's last step";
      out.push_back(op + " reached the device " + where + (last.empty() ? "" : " (" + last + ")"));
      return;
    }
    const std::optional<int64_t> status = Status(line);
    last = op + (status ? " answered status " + std::to_string(*status) : " failed");
    if (Failed(line) || !status) {
      state = kOver;
      continue;
    }
    if (op == "AcquireGroup") state = *status == 0 ? kGroup : kOver;
    else if (op == "EraseStart" || op == "ErasePoll") state = *status == 0 ? kErased : *status == 17 ? kErasing : kOver;
    else if (op == "Program") state = *status == 0 ? kProgrammed : kOver;
    else state = kOver;
  }
}

void CompareTranscript(const ScenarioRun& scenario, const RunRecord& run, const TemplateValues& values,
                       std::vector<std::string>& out) {
  std::string problem;
  const std::vector<std::string> lines = TranscriptLines(run.output, problem);
  // A run stopped mid-line ends without a line end.
  const bool cut = run.stopped && problem == "the last line has no line end";
  if (!problem.empty() && !cut) out.push_back(problem);
  const size_t n = std::max(lines.size(), scenario.transcript.size());
  for (size_t i = 0; i < n; ++i) {
    const std::string where = "transcript line " + std::to_string(i + 1) + ": ";
    if (i >= lines.size()) {
      out.push_back(where + "expected " + Quoted(scenario.transcript[i]) + ", but the transcript ends");
      return;
    }
    if (i >= scenario.transcript.size()) {
      out.push_back(where + "expected the end, got " + Quoted(lines[i]));
      return;
    }
    std::string error;
    if (!MatchLine(scenario.transcript[i], lines[i], values, error)) {
      out.push_back(where + (error.empty() ? "expected " + Quoted(scenario.transcript[i]) + ", got " + Quoted(lines[i])
                                           : "the scenario's line is wrong: " + error));
      return;
    }
  }
}

void CompareArrayShape(const nlohmann::json& actual, size_t length, const std::string& where,
                       std::vector<std::string>& out) {
  if (!actual.is_object()) {
    out.push_back(where + ": no array");
    return;
  }
  const struct {
    const char* key;
    int64_t expected;
  } fields[] = {{"vartype", kVtUi1},
                {"dims", 1},
                {"lower_bound", 0},
                {"count", static_cast<int64_t>(length)},
                {"length", static_cast<int64_t>(length)}};
  for (const auto& f : fields) {
    if (actual.value(f.key, int64_t{-1}) != f.expected) {
      out.push_back(where + ": " + f.key + " " + actual.value(f.key, nlohmann::json()).dump() + ", expected " +
                    std::to_string(f.expected));
      return;
    }
  }
}

bool ReadArray(const nlohmann::json& actual, const RunRecord& run, const std::string& where,
               std::vector<uint8_t>& bytes, std::vector<std::string>& out) {
  const std::string file = actual.value("file", "");
  if (file.empty() || !run.read_array || !run.read_array(file, bytes)) {
    out.push_back(where + ": the array's bytes were not kept by the simulator");
    return false;
  }
  return true;
}

std::string Hex8(uint32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", v);
  return text;
}

// The profile block the tool uploads is its own, byte for byte.
void CompareProfile(const nlohmann::json& actual, const RunRecord& run, const CarriedImage& image,
                    const std::string& where, std::vector<std::string>& out) {
  const size_t before = out.size();
  CompareArrayShape(actual, image.profile_size, where, out);
  std::vector<uint8_t> bytes;
  if (out.size() != before || !ReadArray(actual, run, where, bytes, out)) return;
  const uint8_t* profile = image.code.data() + image.profile_offset;
  for (size_t i = 0; i < bytes.size() && i < image.profile_size; ++i) {
    if (bytes[i] != profile[i]) {
      out.push_back(where + ": byte " + std::to_string(i) + " differs from the program's own profile block");
      return;
    }
  }
}

// The code the tool programs is its own code block with only the time
// stamp (the run's time) and the checksum word changed, and it verifies.
void CompareCode(const nlohmann::json& actual, const RunRecord& run, const CarriedImage& image,
                 const std::string& where, std::vector<std::string>& out) {
  const size_t before = out.size();
  const size_t size = image.code.size();
  CompareArrayShape(actual, size, where, out);
  std::vector<uint8_t> bytes;
  if (out.size() != before || !ReadArray(actual, run, where, bytes, out)) return;
  if (bytes.size() != size) {
    out.push_back(where + ": " + std::to_string(bytes.size()) + " bytes, expected " + std::to_string(size));
    return;
  }
  for (size_t i = 0; i + 4 < size; ++i) {
    if (i >= model::kTimeStampAt && i < model::kTimeStampAt + 4) continue;
    if (bytes[i] != image.code[i]) {
      out.push_back(where + ": byte " + std::to_string(i) +
                    " differs from the program's own code block (only the time stamp at 52 and the checksum may)");
      return;
    }
  }
  const uint32_t stamp = model::GetBig(&bytes[model::kTimeStampAt], 4);
  // Past 2038 the 32-bit calendar time is all ones.
  const bool past_2038 = run.started > 0x7FFFFFFF;
  const bool in_run = past_2038 ? stamp == 0xFFFFFFFFu
                                : static_cast<int64_t>(stamp) >= run.started - 1 && static_cast<int64_t>(stamp) <= run.ended + 1;
  if (!in_run) {
    out.push_back(where + ": time stamp " + Hex8(stamp) + " (" + std::to_string(stamp) +
                  ") is not the time of the run (" + std::to_string(run.started) + " to " + std::to_string(run.ended) +
                  ", big-endian at offset 52)");
    return;
  }
  const uint32_t word = model::GetBig(&bytes[size - 4], 4);
  const uint32_t crc = model::BlockCrc(bytes.data(), size - 4);
  if (word != crc) {
    out.push_back(where + ": checksum word " + Hex8(word) + " is not the stamped block's checksum " + Hex8(crc));
  }
}

// `expected` is a subset of `actual`: every key given matches.
void CompareValue(const nlohmann::json& expected, const nlohmann::json& actual, const std::string& where,
                  const RunRecord& run, const CarriedImage& image, std::vector<std::string>& out) {
  if (expected.is_string() && expected.get<std::string>() == "{profile_array}") {
    CompareProfile(actual, run, image, where, out);
    return;
  }
  if (expected.is_string() && expected.get<std::string>() == "{code_array}") {
    CompareCode(actual, run, image, where, out);
    return;
  }
  if (expected.is_object()) {
    if (!actual.is_object()) {
      out.push_back(where + " is " + actual.dump() + ", expected " + expected.dump());
      return;
    }
    for (const auto& [key, value] : expected.items()) {
      const size_t before = out.size();
      CompareValue(value, actual.contains(key) ? actual[key] : nlohmann::json(), where + "." + key, run, image, out);
      if (out.size() != before) return;
    }
    return;
  }
  if (expected != actual) out.push_back(where + " is " + actual.dump() + ", expected " + expected.dump());
}

void CompareCalls(const ScenarioRun& scenario, const RunRecord& run, const CarriedImage& image,
                  std::vector<std::string>& out) {
  nlohmann::json expected;
  std::string error;
  if (!ExpandJson(scenario.calls, image.values, expected, error, {"profile_array", "code_array"})) {
    out.push_back("the scenario's calls are wrong: " + error);
    return;
  }
  std::vector<nlohmann::json> actual;
  for (const nlohmann::json& line : run.journal) {
    if (!IsBookkeeping(line)) actual.push_back(line);
  }
  const size_t n = std::max(actual.size(), expected.size());
  for (size_t i = 0; i < n; ++i) {
    const std::string where = "call " + std::to_string(i + 1);
    if (i >= expected.size()) {
      // A call in flight when the run was stopped may still be answered.
      if (run.stopped) return;
      out.push_back(where + ": expected no more calls, got " + actual[i].value("op", "?"));
      return;
    }
    const std::string op = expected[i]["op"].get<std::string>();
    if (i >= actual.size()) {
      out.push_back(where + ": expected " + op + ", but the simulator received " + std::to_string(actual.size()) +
                    " call(s)");
      return;
    }
    if (actual[i].value("op", "") != op) {
      out.push_back(where + ": expected " + op + ", got " + actual[i].value("op", "?"));
      return;
    }
    for (const auto& [key, value] : expected[i].items()) {
      if (key == "op") continue;
      const size_t before = out.size();
      CompareValue(value, actual[i].contains(key) ? actual[i][key] : nlohmann::json(), where + " (" + op + ") " + key,
                   run, image, out);
      if (out.size() != before) return;
    }
  }
}

// Where a run that never ended stood: what it last wrote and what last
// reached the simulator, so that a hang can be placed without a re-run.
std::string TimedOut(int timeout_s, const RunRecord& run) {
  std::string problem;
  const std::vector<std::string> lines = TranscriptLines(run.output, problem);
  std::string where = "no end within " + std::to_string(timeout_s) + " s: the run was stopped (";
  where += lines.empty() ? "it wrote nothing" : "its last line " + Quoted(lines.back());
  if (run.journal.empty()) return where + "; the simulator journaled nothing)";
  const nlohmann::json& last = run.journal.back();
  std::string op = last.value("op", "?");
  if (op == "Exit" && last.contains("reason") && last["reason"].is_string())
    op += " (" + last["reason"].get<std::string>() + ")";
  // A server ends once its client is gone: an Exit written after the stop
  // says nothing of why the run hung.
  if (run.stopped_ms && last.contains("ms") && last["ms"].is_number_integer() &&
      last["ms"].get<int64_t>() >= run.stopped_ms)
    op += ", written " + std::to_string(last["ms"].get<int64_t>() - run.stopped_ms) + " ms after the run was stopped";
  size_t calls = 0;
  for (const nlohmann::json& line : run.journal) calls += IsBookkeeping(line) ? 0 : 1;
  return where + "; the simulator's last entry " + op + ", after " + std::to_string(calls) + " call" +
         (calls == 1 ? "" : "s") + ")";
}

}  // namespace

std::vector<std::string> TranscriptLines(const std::string& output, std::string& problem) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < output.size()) {
    const size_t nl = output.find('\n', start);
    if (nl == std::string::npos) {
      lines.push_back(output.substr(start));
      if (problem.empty()) problem = "the last line has no line end";
      break;
    }
    size_t end = nl;
    if (end > start && output[end - 1] == '\r') {
      --end;
    } else if (problem.empty()) {
      problem = "transcript line " + std::to_string(lines.size() + 1) + " ends without a carriage return";
    }
    lines.push_back(output.substr(start, end - start));
    start = nl + 1;
  }
  return lines;
}

bool MetTheBench(const Scenario& scenario, const RunRecord& run) {
  return !run.journal.empty() || scenario.calls.empty() || run.timed_out;
}

std::vector<std::string> FindDifferences(const Scenario& scenario, const RunRecord& run, const CarriedImage& image) {
  return FindRunDifferences(scenario, scenario.timeout_s, run, image);
}

std::vector<std::string> FindRunDifferences(const ScenarioRun& expected, int timeout_s, const RunRecord& run,
                                            const CarriedImage& image) {
  std::vector<std::string> out;
  if (run.timed_out) out.push_back(TimedOut(timeout_s, run));
  for (const nlohmann::json& line : run.journal) {
    if (line.value("op", "") == "Start" && line.contains("error")) {
      out.push_back("the simulator could not play the scenario's bench: " + line["error"].dump());
    }
  }
  if (!expected.stop_at.empty() && !run.stopped && !run.timed_out) {
    out.push_back("the run ended by itself (exit status " + std::to_string(run.exit_status) + ") before its output held " +
                  Quoted(expected.stop_at));
  }
  CheckDeviceOrder(expected, run.journal, out);
  CompareTranscript(expected, run, image.values, out);
  if (!run.timed_out && !run.stopped && run.exit_status != expected.status) {
    out.push_back("exit status " + std::to_string(run.exit_status) + ", expected " + std::to_string(expected.status));
  }
  CompareCalls(expected, run, image, out);
  return out;
}

namespace {

using RunKey = std::pair<int64_t, int64_t>;  // the server process, the run's number in it

RunKey KeyOf(const nlohmann::json& line) {
  const nlohmann::json& pid = line.value("pid", nlohmann::json());
  const nlohmann::json& session = line.value("session", nlohmann::json());
  return {pid.is_number_integer() ? pid.get<int64_t>() : -1, session.is_number_integer() ? session.get<int64_t>() : -1};
}

bool IsServerLine(const nlohmann::json& line) {
  const std::string op = line.value("op", "");
  return op == "Start" || op == "Exit";
}

// The runs a client's process made: named by its Client line; a run whose
// client died before its first call, by its creation's caller (under Wine
// the client; on Windows the COM service, never a run's).
std::set<RunKey> RunsOfClient(const std::vector<nlohmann::json>& journal, uint32_t client_pid) {
  std::set<RunKey> named, mine;
  for (const nlohmann::json& line : journal) {
    if (line.value("op", "") != "Client") continue;
    named.insert(KeyOf(line));
    if (line.value("client_pid", nlohmann::json()) == client_pid) mine.insert(KeyOf(line));
  }
  for (const nlohmann::json& line : journal) {
    if (line.value("op", "") == "CreateInstance" && line.contains("session") && !named.count(KeyOf(line)) &&
        line.value("caller_pid", nlohmann::json()) == client_pid)
      mine.insert(KeyOf(line));
  }
  return mine;
}

}  // namespace

std::vector<nlohmann::json> LinesOfRun(const std::vector<nlohmann::json>& journal, uint32_t client_pid) {
  const std::set<RunKey> mine = RunsOfClient(journal, client_pid);
  std::vector<nlohmann::json> lines;
  for (const nlohmann::json& line : journal) {
    const bool refused_creation = line.value("op", "") == "CreateInstance" && !line.contains("session") &&
                                  line.value("caller_pid", nlohmann::json()) == client_pid;
    if (IsServerLine(line) || refused_creation || (line.contains("session") && mine.count(KeyOf(line))))
      lines.push_back(line);
  }
  return lines;
}

bool RunsOver(const std::vector<nlohmann::json>& journal, const std::vector<uint32_t>& client_pids) {
  std::set<RunKey> over;
  std::set<int64_t> servers_ended;
  for (const nlohmann::json& line : journal) {
    if (line.value("op", "") == "RunEnd") over.insert(KeyOf(line));
    if (line.value("op", "") == "Exit" || line.value("crash", false)) servers_ended.insert(KeyOf(line).first);
  }
  for (uint32_t pid : client_pids) {
    for (const RunKey& run : RunsOfClient(journal, pid)) {
      if (!over.count(run) && !servers_ended.count(run.first)) return false;
    }
  }
  return true;
}

std::vector<std::string> FindScenarioDifferences(const Scenario& scenario, const std::vector<RunRecord>& runs,
                                                 const nlohmann::json& state, const CarriedImage& image) {
  std::vector<std::string> out;
  const std::vector<const ScenarioRun*> planned = RunsOf(scenario);
  auto named = [&](size_t run, const std::string& difference) {
    return planned.size() > 1 ? "run " + std::to_string(run + 1) + ": " + difference : difference;
  };
  for (size_t first = 0; first < planned.size() && first < runs.size();) {
    size_t end = first + 1;
    while (end < planned.size() && end < runs.size() && planned[end]->together) ++end;
    // The expectation each run of the group is held to, in every order
    // until one fits them all; the order they were listed in first.
    std::vector<size_t> order(end - first);
    std::iota(order.begin(), order.end(), first);
    std::vector<std::string> first_order;
    bool fits = false, tried = false;
    do {
      std::vector<std::string> found;
      for (size_t i = first; i < end; ++i) {
        for (const std::string& d : FindRunDifferences(*planned[order[i - first]], scenario.timeout_s, runs[i], image))
          found.push_back(named(i, d));
      }
      if (!tried) first_order = found;
      tried = true;
      fits = found.empty();
    } while (!fits && std::next_permutation(order.begin(), order.end()));
    if (!fits) {
      // As listed; said once that no other order fits either.
      if (end - first > 1 && !first_order.empty()) {
        first_order.front() += " (runs " + std::to_string(first + 1) + " to " + std::to_string(end) +
                               " were started together: no order of their expectations fits them)";
      }
      out.insert(out.end(), first_order.begin(), first_order.end());
    }
    first = end;
  }
  if (scenario.devices_after.is_null()) return out;
  nlohmann::json expected;
  std::string error;
  if (!ExpandJson(scenario.devices_after, image.values, expected, error)) {
    out.push_back("the scenario's devices_after is wrong: " + error);
    return out;
  }
  const nlohmann::json& devices = state.is_object() ? state.value("devices", nlohmann::json()) : nlohmann::json();
  if (!devices.is_array()) {
    out.push_back("the bench's state file holds no devices after the runs (" +
                  (state.is_null() ? std::string("it was not written") : state.dump().substr(0, 200)) + ")");
    return out;
  }
  for (size_t i = 0; i < expected.size(); ++i) {
    const std::string where = "after the runs, device " + std::to_string(i + 1);
    if (i >= devices.size()) {
      out.push_back(where + ": not in the state file");
      return out;
    }
    const size_t before = out.size();
    CompareValue(expected[i], devices[i], where, RunRecord(), image, out);
    if (out.size() != before) return out;
  }
  return out;
}
