#ifndef K27_KIT_CATALOGUE_H_
#define K27_KIT_CATALOGUE_H_

// The scenario catalogue: what a run of k27prog is given (an image, a bench,
// what the operator types) and what must happen (the console transcript,
// the exit status, the calls that reach the device server); or several
// such runs against one shared bench, and what the bench remembers after
// them. One JSON file holds {"scenarios": [...]}; the kit reads every
// *.json file of its catalogue folder in name order, then those of
// --catalogue folders.

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "template_text.h"

// A condition on the carried image for the scenario to apply
// ("min_boot_branch >= 1"), and why it does not apply otherwise.
struct Need {
  std::string name;
  std::string op;  // >=, <=, >, <, ==, !=
  int64_t value = 0;
  std::string why;
};

// One run of the program: what the operator types, and what must happen.
struct ScenarioRun {
  std::string outcome;  // the message the run ends with; empty for a run stopped from outside
  int status = 0;
  std::optional<std::string> typed;  // the line typed at the prompt; none: nothing at all
  std::vector<std::string> transcript;
  nlohmann::json calls;  // what reaches the simulator, in order
  bool together = false;  // started together with the run before it
  std::string stop_at;    // stopped (as a forced kill) once its output holds this text
};

struct Scenario : ScenarioRun {
  std::string name;
  std::string group;  // the catalogue file's name, without ".json"
  std::string about;
  nlohmann::json image;  // how to damage the program's own image; null: as it is
  nlohmann::json bench;  // the bench file the simulator plays
  std::vector<Need> needs;
  int timeout_s = 60;
  // Several runs against one shared bench, in order; empty: the scenario
  // is one run, its own ScenarioRun.
  std::vector<ScenarioRun> runs;
  // What the shared bench's state file must say of its devices after the
  // runs, device by device; null: not looked at.
  nlohmann::json devices_after;
};

// The runs a scenario plays, in order.
std::vector<const ScenarioRun*> RunsOf(const Scenario& scenario);

// Reads one catalogue file. `group` names it in messages and results.
// False, with the place and the reason, for anything the format does not
// allow: a scenario is refused whole, never half read.
bool ParseCatalogue(std::string_view text, const std::string& group, std::vector<Scenario>& scenarios,
                    std::string& error);

// Whether the scenarios may be played together: names unique, outcomes
// known and reachable, statuses as the outcome table gives them, and
// transcripts that end as every run ends.
bool CheckScenarios(const std::vector<Scenario>& scenarios, std::string& error);

// Whether the scenario applies to an image with these values; when not,
// `why` says so.
bool Applies(const Scenario& scenario, const TemplateValues& values, std::string& why);

#endif  // K27_KIT_CATALOGUE_H_
