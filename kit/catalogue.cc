#include "catalogue.h"

#include <cctype>
#include <set>

#include "lib/reject.h"
#include "model/outcomes.h"

namespace {

bool IsName(const std::string& name) {
  if (name.empty() || name.size() > 80) return false;
  for (char c : name) {
    if (!std::islower(static_cast<unsigned char>(c)) && !std::isdigit(static_cast<unsigned char>(c)) && c != '-')
      return false;
  }
  return true;
}

bool ParseNeed(const nlohmann::json& item, Need& need, std::string& error) {
  if (!item.is_object() || !item.contains("test") || !item["test"].is_string() || !item.contains("why") ||
      !item["why"].is_string() || item.size() != 2) {
    return Reject(error, "each of \"needs\" is {\"test\": \"NAME OP NUMBER\", \"why\": \"...\"}");
  }
  const std::string test = item["test"].get<std::string>();
  const size_t first = test.find(' ');
  const size_t second = first == std::string::npos ? first : test.find(' ', first + 1);
  if (second == std::string::npos) return Reject(error, "\"" + test + "\" is not NAME OP NUMBER");
  need.name = test.substr(0, first);
  need.op = test.substr(first + 1, second - first - 1);
  const std::string number = test.substr(second + 1);
  static const std::set<std::string> ops = {">=", "<=", ">", "<", "==", "!="};
  bool digits = !number.empty() && number.size() <= 12;
  for (char c : number) digits = digits && std::isdigit(static_cast<unsigned char>(c));
  if (!ops.count(need.op) || !digits)
    return Reject(error, "\"" + test + "\" is not NAME OP NUMBER (OP one of >= <= > < == !=)");
  need.value = std::stoll(number);
  need.why = item["why"].get<std::string>();
  return true;
}

bool CheckKeys(const nlohmann::json& item, const std::set<std::string>& keys, std::string& error) {
  for (const auto& [key, value] : item.items()) {
    if (!keys.count(key)) return Reject(error, "\"" + key + "\": unknown setting");
  }
  return true;
}

bool Text(const nlohmann::json& item, const char* key, std::string& out, bool required, std::string& error) {
  if (!item.contains(key)) {
    if (required) error = std::string("\"") + key + "\" is missing";
    return !required;
  }
  if (!item[key].is_string()) return Reject(error, std::string("\"") + key + "\" must be a text");
  out = item[key].get<std::string>();
  return true;
}

// What one run is given and must do: a scenario's own keys, or one of its
// "runs".
bool ParseRun(const nlohmann::json& item, ScenarioRun& r, std::string& error) {
  if (!Text(item, "stop_at", r.stop_at, false, error)) return false;
  if (item.contains("stop_at") && r.stop_at.empty())
    return Reject(error, "\"stop_at\" must be the text the run is stopped at");
  const bool stopped = !r.stop_at.empty();
  if (stopped && (item.contains("outcome") || item.contains("status")))
    return Reject(error, "a run stopped at a text has no \"outcome\" and no \"status\"");
  if (!stopped) {
    if (!Text(item, "outcome", r.outcome, true, error)) return false;
    if (!item.contains("status") || !item["status"].is_number_integer())
      return Reject(error, "\"status\", the exit status, must be a whole number");
    r.status = item["status"].get<int>();
  }
  if (item.contains("typed") && !item["typed"].is_null()) {
    if (!item["typed"].is_string())
      return Reject(error, "\"typed\" must be a text (the line typed at the prompt) or null (nothing at all)");
    r.typed = item["typed"].get<std::string>();
    if (r.typed->find_first_of("\r\n") != std::string::npos)
      return Reject(error, "\"typed\" is one line: the Enter key is added");
  }
  if (!item.contains("transcript") || !item["transcript"].is_array() || item["transcript"].empty())
    return Reject(error, "\"transcript\" must list the lines the run prints");
  for (const auto& line : item["transcript"]) {
    if (!line.is_string()) return Reject(error, "every line of \"transcript\" is a text");
    r.transcript.push_back(line.get<std::string>());
  }
  r.calls = item.value("calls", nlohmann::json());
  if (!r.calls.is_array())
    return Reject(error, "\"calls\" must list the calls that reach the simulator (an empty list for none)");
  for (auto& call : r.calls) {
    if (call.is_string()) call = nlohmann::json{{"op", call}};
    if (!call.is_object() || !call.contains("op") || !call["op"].is_string())
      return Reject(error, "each of \"calls\" is an operation's name, or an object with \"op\" and what must match");
  }
  return true;
}

bool ParseRuns(const nlohmann::json& list, Scenario& s, std::string& error) {
  static const std::set<std::string> keys = {"start", "typed", "outcome", "status", "transcript", "calls", "stop_at"};
  if (!list.is_array() || list.empty()) return Reject(error, "\"runs\" must list the runs, in order");
  for (size_t i = 0; i < list.size(); ++i) {
    const nlohmann::json& item = list[i];
    ScenarioRun r;
    std::string why;
    bool ok = item.is_object() && CheckKeys(item, keys, why) && ParseRun(item, r, why);
    if (ok && item.contains("start")) {
      const nlohmann::json& start = item["start"];
      r.together = start == "together";
      ok = (start == "after" || start == "together") && !(i == 0 && r.together);
      if (!ok) why = "\"start\" is \"after\" (the runs before it have ended) or \"together\" (with the run before it)";
    }
    if (!item.is_object()) why = "a run is a JSON object";
    // The kit watches one run at a time for the text it stops it at.
    if (ok && r.together && (!r.stop_at.empty() || !s.runs.back().stop_at.empty())) {
      ok = false;
      why = "a run stopped at a text is started after the runs before it, and the next one after it";
    }
    if (!ok) return Reject(error, "run " + std::to_string(i + 1) + ": " + why);
    s.runs.push_back(std::move(r));
  }
  return true;
}

bool ParseScenario(const nlohmann::json& item, Scenario& s, std::string& error) {
  static const std::set<std::string> keys = {"name",  "about",      "outcome", "status", "image",     "bench",
                                             "typed", "transcript", "calls",   "needs",  "timeout_s", "stop_at",
                                             "runs",  "devices_after"};
  if (!item.is_object()) return Reject(error, "a scenario is a JSON object");
  if (!CheckKeys(item, keys, error)) return false;
  if (!Text(item, "name", s.name, true, error) || !Text(item, "about", s.about, false, error)) return false;
  if (!IsName(s.name))
    return Reject(error, "\"" + s.name + "\" is not a scenario name (lower-case letters, digits and '-')");
  if (item.contains("image") && !item["image"].is_object()) return Reject(error, "\"image\" must be an object");
  s.image = item.value("image", nlohmann::json());
  s.bench = item.value("bench", nlohmann::json::object());
  if (!s.bench.is_object()) return Reject(error, "\"bench\" must be an object (a bench file's contents)");
  if (item.contains("runs")) {
    for (const char* own : {"outcome", "status", "typed", "transcript", "calls", "stop_at"}) {
      if (item.contains(own)) return Reject(error, std::string("\"") + own + "\" belongs to each of \"runs\"");
    }
    if (!ParseRuns(item["runs"], s, error)) return false;
  } else if (!ParseRun(item, s, error)) {
    return false;
  }
  if (item.contains("devices_after")) {
    s.devices_after = item["devices_after"];
    bool objects = s.devices_after.is_array();
    for (const auto& device : s.devices_after) objects = objects && device.is_object();
    if (!objects)
      return Reject(error, "\"devices_after\" must list, device by device, what the bench's state file says of it");
  }
  const bool shared = s.bench.value("shared", false) == true;
  if (!shared && (s.runs.size() > 1 || !s.devices_after.is_null()))
    return Reject(error, "several runs, and \"devices_after\", need a shared bench (\"shared\": true)");
  if (item.contains("needs")) {
    if (!item["needs"].is_array()) return Reject(error, "\"needs\" must be a list");
    for (const auto& need : item["needs"]) {
      s.needs.emplace_back();
      if (!ParseNeed(need, s.needs.back(), error)) return false;
    }
  }
  if (item.contains("timeout_s")) {
    if (!item["timeout_s"].is_number_integer() || item["timeout_s"].get<int64_t>() < 1 ||
        item["timeout_s"].get<int64_t>() > 3600) {
      return Reject(error, "\"timeout_s\" must be 1 to 3600 seconds");
    }
    s.timeout_s = item["timeout_s"].get<int>();
  }
  return true;
}

// A run's outcome is the table's, with its status, and its transcript ends
// as every run ends; a run stopped from outside ends where it was stopped.
bool CheckRun(const ScenarioRun& r, const std::string& where, std::string& error) {
  if (!r.stop_at.empty()) return true;
  const model::Outcome* outcome = model::FindOutcome(r.outcome);
  if (!outcome) return Reject(error, where + "\"" + r.outcome + "\" is not a message k27prog ends with");
  if (outcome->unreachable)
    return Reject(error, where + "no run can end with \"" + r.outcome + "\": " + outcome->unreachable);
  if (r.status != outcome->status)
    return Reject(error, where + "\"" + r.outcome + "\" ends with exit status " + std::to_string(outcome->status) +
                             ", not " + std::to_string(r.status));
  const size_t n = r.transcript.size();
  const std::string& last = r.transcript[n - 1];
  const std::string message = n >= 2 ? r.transcript[n - 2] : std::string();
  const bool ends_with_message =
      message == r.outcome ||
      (message.size() > r.outcome.size() + 5 &&
       message.compare(message.size() - r.outcome.size() - 5, std::string::npos, " ... " + r.outcome) == 0) ||
      (message.size() >= r.outcome.size() + 2 &&
       message.compare(message.size() - r.outcome.size() - 2, std::string::npos, ": " + r.outcome) == 0);
  if (last != model::kPressSpaceLine || !ends_with_message)
    return Reject(error, where + "the transcript must end with the line of \"" + r.outcome + "\", then \"" +
                             model::kPressSpaceLine + "\"");
  return true;
}

}  // namespace

bool ParseCatalogue(std::string_view text, const std::string& group, std::vector<Scenario>& scenarios,
                    std::string& error) {
  nlohmann::json doc;
  try {
    doc = nlohmann::json::parse(text);
  } catch (const nlohmann::json::parse_error& e) {
    return Reject(error, group + ": not valid JSON: " + e.what());
  }
  if (!doc.is_object() || !doc.contains("scenarios") || !doc["scenarios"].is_array())
    return Reject(error, group + ": a catalogue file is {\"scenarios\": [...]}");
  for (const auto& [key, value] : doc.items()) {
    if (key != "scenarios" && key != "comment") return Reject(error, group + ": \"" + key + "\": unknown setting");
  }
  std::vector<Scenario> read;
  for (size_t i = 0; i < doc["scenarios"].size(); ++i) {
    const nlohmann::json& item = doc["scenarios"][i];
    Scenario s;
    s.group = group;
    std::string why;
    if (!ParseScenario(item, s, why)) {
      std::string where = group + ": scenario " + std::to_string(i + 1);
      if (item.is_object() && item.contains("name") && item["name"].is_string())
        where += " (" + item["name"].get<std::string>() + ")";
      return Reject(error, where + ": " + why);
    }
    read.push_back(std::move(s));
  }
  scenarios.insert(scenarios.end(), read.begin(), read.end());
  return true;
}

std::vector<const ScenarioRun*> RunsOf(const Scenario& scenario) {
  std::vector<const ScenarioRun*> runs;
  if (scenario.runs.empty()) runs.push_back(&scenario);
  for (const ScenarioRun& run : scenario.runs) runs.push_back(&run);
  return runs;
}

bool CheckScenarios(const std::vector<Scenario>& scenarios, std::string& error) {
  std::set<std::string> names;
  for (const Scenario& s : scenarios) {
    const std::string where = s.group + ": " + s.name + ": ";
    if (!names.insert(s.name).second) return Reject(error, where + "another scenario has this name");
    const std::vector<const ScenarioRun*> runs = RunsOf(s);
    for (size_t i = 0; i < runs.size(); ++i) {
      const std::string which = runs.size() > 1 ? where + "run " + std::to_string(i + 1) + ": " : where;
      if (!CheckRun(*runs[i], which, error)) return false;
    }
  }
  return true;
}

bool Applies(const Scenario& scenario, const TemplateValues& values, std::string& why) {
  for (const Need& need : scenario.needs) {
    const auto found = values.find(need.name);
    if (found == values.end() || !found->second.is_number)
      return Reject(why, "no number is called \"" + need.name + "\"");
    const int64_t v = found->second.number;
    const bool holds = need.op == ">=" ? v >= need.value
                       : need.op == "<=" ? v <= need.value
                       : need.op == ">"  ? v > need.value
                       : need.op == "<"  ? v < need.value
                       : need.op == "==" ? v == need.value
                                         : v != need.value;
    if (!holds) return Reject(why, need.why + " (the image's " + need.name + " is " + std::to_string(v) + ")");
  }
  return true;
}
