#ifndef K27_KIT_VERDICT_H_
#define K27_KIT_VERDICT_H_

// Whether one run of k27prog did what its scenario says: the device never
// reached before every check had passed, the console transcript line for
// line, the exit status, the calls that reached the simulator with the
// arguments that matter, and the profile and code the tool sent.

#include <nlohmann/json.hpp>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "catalogue.h"
#include "template_text.h"

// What the program under qualification carries.
struct CarriedImage {
  std::vector<uint8_t> code;
  size_t profile_offset = 0;
  size_t profile_size = 0;
  TemplateValues values;
};

// What one run left behind.
struct RunRecord {
  bool timed_out = false;
  bool stopped = false;  // stopped from outside, as its scenario asks
  int64_t stopped_ms = 0;  // when the kit stopped it (the journal's "ms" clock)
  int64_t exit_status = 0;
  std::string output;  // standard output, as written
  std::vector<nlohmann::json> journal;  // the simulator's lines of this run (and of the servers)
  int64_t started = 0;  // calendar seconds just before the run, and just after
  int64_t ended = 0;
  // An array the simulator wrote beside its journal, by its file name.
  std::function<bool(const std::string& name, std::vector<uint8_t>& bytes)> read_array;
};

// Every way the run differs from the scenario, the most serious first: the
// device reached too early, then the transcript, the exit status, the
// calls. Empty when the run is as the scenario says.
std::vector<std::string> FindDifferences(const Scenario& scenario, const RunRecord& run, const CarriedImage& image);
// The same for one of a scenario's runs. A run stopped from outside is
// checked as far as it got: its transcript up to the text it was stopped
// at, its calls as far as listed (a call it had in flight may follow).
std::vector<std::string> FindRunDifferences(const ScenarioRun& expected, int timeout_s, const RunRecord& run,
                                            const CarriedImage& image);

// A shared bench's journal holds the lines of every run: those of the run
// whose client was `client_pid` (its creation, its calls, by the server
// process and run number its lines carry), with the servers' own lines.
std::vector<nlohmann::json> LinesOfRun(const std::vector<nlohmann::json>& journal, uint32_t client_pid);
// Whether every run of those clients has ended, as the journal says (its
// RunEnd line, or its server's end).
bool RunsOver(const std::vector<nlohmann::json>& journal, const std::vector<uint32_t>& client_pids);

// Every way a scenario of several runs differs from what it says, each
// prefixed with its run ("run 2: ..."): runs started together are matched
// to their expectations in whichever order fits them all, since which of
// them the server serves first is the server's affair; then the devices'
// state after the runs (`state`: the state file as read, null when there
// is none).
std::vector<std::string> FindScenarioDifferences(const Scenario& scenario, const std::vector<RunRecord>& runs,
                                                 const nlohmann::json& state, const CarriedImage& image);

// Whether the run met its bench: false when the scenario has the program
// reach the simulator but no simulator ever started (its journal is empty)
// and the run ended by itself. The system then failed to start the server
// (under Wine about once in some thousands of starts, the program being told
// "class not registered"): the scenario was not played.
bool MetTheBench(const Scenario& scenario, const RunRecord& run);

// The transcript's lines: standard output split at CRLF. A line end without
// its carriage return is reported in `problem`.
std::vector<std::string> TranscriptLines(const std::string& output, std::string& problem);

#endif  // K27_KIT_VERDICT_H_
