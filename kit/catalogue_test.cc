#include "catalogue.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

nlohmann::json Valid() {
  return {{"name", "no-devices"},
          {"outcome", "NO DEVICES FOUND"},
          {"status", 1},
          {"bench", {{"devices", nlohmann::json::array()}}},
          {"transcript", {"k27prog - K27 firmware programmer", "NO DEVICES FOUND", "Press space to exit"}},
          {"calls", {"CreateInstance", "GetVersion", "LoadProfile", "DetectDevices"}}};
}

std::string Parse(const nlohmann::json& scenario, std::vector<Scenario>* out = nullptr) {
  std::vector<Scenario> scenarios;
  std::string error;
  const bool ok = ParseCatalogue(nlohmann::json{{"scenarios", {scenario}}}.dump(), "devices", scenarios, error);
  if (ok && out) *out = scenarios;
  return ok ? "" : error;
}

TEST(CatalogueTest, ReadsAScenarioWhole) {
  nlohmann::json item = Valid();
  item["typed"] = "0042";
  item["needs"] = {{{"test", "min_boot_branch >= 1"}, {"why", "no branch below 0"}}};
  item["timeout_s"] = 30;
  std::vector<Scenario> read;
  ASSERT_EQ(Parse(item, &read), "");
  ASSERT_EQ(read.size(), 1u);
  const Scenario& s = read[0];
  EXPECT_EQ(s.group, "devices");
  EXPECT_EQ(s.typed, "0042");
  EXPECT_EQ(s.calls[1], nlohmann::json({{"op", "GetVersion"}}));
  ASSERT_EQ(s.needs.size(), 1u);
  EXPECT_EQ(s.needs[0].name, "min_boot_branch");
  EXPECT_EQ(s.needs[0].op, ">=");
  EXPECT_EQ(s.needs[0].value, 1);
  EXPECT_EQ(s.timeout_s, 30);
  EXPECT_TRUE(s.image.is_null());
  // Nothing typed: absent or null.
  item["typed"] = nullptr;
  ASSERT_EQ(Parse(item, &read), "");
  EXPECT_FALSE(read[0].typed.has_value());
}

TEST(CatalogueTest, RefusesWhatTheFormatDoesNotAllow) {
  struct Row {
    const char* key;
    nlohmann::json value;  // null: the key removed
    const char* error;
  };
  const Row rows[] = {
      {"outcom", "NO DEVICES FOUND", "devices: scenario 1 (no-devices): \"outcom\": unknown setting"},
      {"name", "No Devices", "devices: scenario 1 (No Devices): \"No Devices\" is not a scenario name (lower-case "
                             "letters, digits and '-')"},
      {"outcome", nullptr, "devices: scenario 1 (no-devices): \"outcome\" is missing"},
      {"status", "1", "devices: scenario 1 (no-devices): \"status\", the exit status, must be a whole number"},
      {"typed", "42\r", "devices: scenario 1 (no-devices): \"typed\" is one line: the Enter key is added"},
      {"typed", 42, "devices: scenario 1 (no-devices): \"typed\" must be a text (the line typed at the prompt) or "
                    "null (nothing at all)"},
      {"transcript", nlohmann::json::array(),
       "devices: scenario 1 (no-devices): \"transcript\" must list the lines the run prints"},
      {"calls", nullptr, "devices: scenario 1 (no-devices): \"calls\" must list the calls that reach the simulator "
                         "(an empty list for none)"},
      {"calls", {{{"args", 1}}}, "devices: scenario 1 (no-devices): each of \"calls\" is an operation's name, or an "
                                 "object with \"op\" and what must match"},
      {"bench", "bench.json", "devices: scenario 1 (no-devices): \"bench\" must be an object (a bench file's "
                              "contents)"},
      {"needs", {{{"test", "min_boot_branch => 1"}, {"why", "x"}}},
       "devices: scenario 1 (no-devices): \"min_boot_branch => 1\" is not NAME OP NUMBER (OP one of >= <= > < == !=)"},
      {"timeout_s", 0, "devices: scenario 1 (no-devices): \"timeout_s\" must be 1 to 3600 seconds"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.key);
    nlohmann::json item = Valid();
    if (row.value.is_null()) item.erase(row.key);
    else item[row.key] = row.value;
    EXPECT_EQ(Parse(item), row.error);
  }
  std::vector<Scenario> scenarios;
  std::string error;
  EXPECT_FALSE(ParseCatalogue("{\"scenarios\": [", "x", scenarios, error));
  EXPECT_EQ(error.rfind("x: not valid JSON: ", 0), 0u) << error;
  EXPECT_FALSE(ParseCatalogue("{\"scenario\": []}", "x", scenarios, error));
  EXPECT_EQ(error, "x: a catalogue file is {\"scenarios\": [...]}");
}

// Several runs on a shared bench: Valid()'s run, twice, the second started
// together with the first.
nlohmann::json TwoRuns() {
  nlohmann::json item = Valid();
  nlohmann::json run = {{"outcome", item["outcome"]}, {"status", 1}, {"transcript", item["transcript"]},
                        {"calls", item["calls"]}};
  for (const char* key : {"outcome", "status", "transcript", "calls"}) item.erase(key);
  nlohmann::json together = run;
  together["start"] = "together";
  together["typed"] = "7";
  item["runs"] = {run, together};
  item["bench"]["shared"] = true;
  item["devices_after"] = {{{"flash", "as_bench"}}};
  return item;
}

TEST(CatalogueTest, ReadsSeveralRunsOnASharedBench) {
  std::vector<Scenario> read;
  ASSERT_EQ(Parse(TwoRuns(), &read), "");
  const Scenario& s = read[0];
  ASSERT_EQ(s.runs.size(), 2u);
  EXPECT_FALSE(s.runs[0].together);
  EXPECT_TRUE(s.runs[1].together);
  EXPECT_EQ(s.runs[1].typed, "7");
  EXPECT_EQ(s.runs[1].calls[0], nlohmann::json({{"op", "CreateInstance"}}));
  EXPECT_EQ(s.devices_after[0]["flash"], "as_bench");
  const std::vector<const ScenarioRun*> runs = RunsOf(s);
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[1], &s.runs[1]);
  std::string error;
  EXPECT_TRUE(CheckScenarios(read, error)) << error;
  // A scenario of one run is its own.
  ASSERT_EQ(Parse(Valid(), &read), "");
  EXPECT_EQ(RunsOf(read[0]), std::vector<const ScenarioRun*>{&read[0]});

  nlohmann::json stopped = Valid();
  stopped.erase("outcome");
  stopped.erase("status");
  stopped["stop_at"] = "erasing ... ";
  ASSERT_EQ(Parse(stopped, &read), "");
  EXPECT_EQ(read[0].stop_at, "erasing ... ");
  EXPECT_TRUE(CheckScenarios(read, error)) << error;
}

TEST(CatalogueTest, RefusesRunsTheFormatDoesNotAllow) {
  struct Row {
    std::function<void(nlohmann::json&)> change;
    const char* error;
  };
  const std::string where = "devices: scenario 1 (no-devices): ";
  const Row rows[] = {
      {[](nlohmann::json& s) { s["bench"].erase("shared"); },
       "several runs, and \"devices_after\", need a shared bench (\"shared\": true)"},
      {[](nlohmann::json& s) { s["typed"] = "42"; }, "\"typed\" belongs to each of \"runs\""},
      {[](nlohmann::json& s) { s["runs"] = nlohmann::json::array(); }, "\"runs\" must list the runs, in order"},
      {[](nlohmann::json& s) { s["runs"][0]["start"] = "together"; },
       "run 1: \"start\" is \"after\" (the runs before it have ended) or \"together\" (with the run before it)"},
      {[](nlohmann::json& s) { s["runs"][1]["start"] = "later"; },
       "run 2: \"start\" is \"after\" (the runs before it have ended) or \"together\" (with the run before it)"},
      {[](nlohmann::json& s) { s["runs"][1]["name"] = "x"; }, "run 2: \"name\": unknown setting"},
      {[](nlohmann::json& s) { s["runs"][1].erase("outcome"); }, "run 2: \"outcome\" is missing"},
      {[](nlohmann::json& s) { s["runs"][0]["stop_at"] = "x"; },
       "run 1: a run stopped at a text has no \"outcome\" and no \"status\""},
      {[](nlohmann::json& s) {
         s["runs"][1].erase("outcome");
         s["runs"][1].erase("status");
         s["runs"][1]["stop_at"] = "erasing ... ";
       },
       "run 2: a run stopped at a text is started after the runs before it, and the next one after it"},
      {[](nlohmann::json& s) { s["devices_after"] = {1}; },
       "\"devices_after\" must list, device by device, what the bench's state file says of it"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.error);
    nlohmann::json item = TwoRuns();
    row.change(item);
    EXPECT_EQ(Parse(item), where + row.error);
  }
  // Each run agrees with the outcome table, named by its number.
  std::vector<Scenario> read;
  nlohmann::json item = TwoRuns();
  item["runs"][1]["status"] = 0;
  ASSERT_EQ(Parse(item, &read), "");
  std::string error;
  EXPECT_FALSE(CheckScenarios(read, error));
  EXPECT_EQ(error, "devices: no-devices: run 2: \"NO DEVICES FOUND\" ends with exit status 1, not 0");
}

TEST(CatalogueTest, ScenariosMustAgreeWithTheOutcomeTable) {
  auto scenario = [](const char* outcome, int status, std::vector<std::string> transcript) {
    Scenario s;
    s.name = "s";
    s.group = "g";
    s.outcome = outcome;
    s.status = status;
    s.transcript = std::move(transcript);
    return s;
  };
  struct Row {
    Scenario s;
    const char* error;  // "" accepted
  };
  const Row rows[] = {
      {scenario("NO DEVICES FOUND", 1, {"NO DEVICES FOUND", "Press space to exit"}), ""},
      {scenario("RESET REJECTED", 1, {"Reset request ... RESET REJECTED", "Press space to exit"}), ""},
      {scenario("THAT SERIAL NUMBER IS NOT IN THE LIST OF DEVICES FOUND", 1,
                {"Please enter the serial number of the device you wish to program : THAT SERIAL NUMBER IS NOT IN "
                 "THE LIST OF DEVICES FOUND",
                 "Press space to exit"}),
       ""},
      {scenario("UNKNOWN CODE HEADER X VERSION", 108, {"UNKNOWN CODE HEADER X VERSION", "Press space to exit"}), ""},
      {scenario("UNKNOWN CODE HEADER X VERSION", 1, {"UNKNOWN CODE HEADER X VERSION", "Press space to exit"}),
       "g: s: \"UNKNOWN CODE HEADER X VERSION\" ends with exit status 108, not 1"},
      {scenario("UNKNOWN PROFILE HEADER X VERSION", 108, {"UNKNOWN PROFILE HEADER X VERSION", "Press space to exit"}),
       "g: s: \"UNKNOWN PROFILE HEADER X VERSION\" ends with exit status 1, not 108"},
      {scenario("PROGRAMMING SUCCESSFULL", 0, {"PROGRAMMING SUCCESSFULL", "Press space to exit"}),
       "g: s: \"PROGRAMMING SUCCESSFULL\" is not a message k27prog ends with"},
      {scenario("CRC REGENERATION FAILED", 1, {"CRC REGENERATION FAILED", "Press space to exit"}),
       "g: s: no run can end with \"CRC REGENERATION FAILED\": the checksum made anew verifies by construction; only "
       "a fault in the tool's checksum code could end here"},
      {scenario("NO DEVICES FOUND", 1, {"NO DEVICES FOUND"}),
       "g: s: the transcript must end with the line of \"NO DEVICES FOUND\", then \"Press space to exit\""},
      {scenario("NO DEVICES FOUND", 1, {"Found : K27 NO DEVICES FOUND", "Press space to exit"}),
       "g: s: the transcript must end with the line of \"NO DEVICES FOUND\", then \"Press space to exit\""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.s.outcome);
    std::string error;
    EXPECT_EQ(CheckScenarios({row.s}, error), std::string(row.error).empty());
    EXPECT_EQ(error, row.error);
  }
  std::string error;
  EXPECT_FALSE(CheckScenarios({rows[0].s, rows[1].s}, error));
  EXPECT_EQ(error, "g: s: another scenario has this name");
}

TEST(CatalogueTest, NeedsDecideWhetherAScenarioApplies) {
  Scenario s;
  s.needs = {{"min_boot_branch", ">=", 1, "a minimum boot branch of 0 leaves no branch below it"}};
  std::string why;
  EXPECT_TRUE(Applies(s, {{"min_boot_branch", {true, 1, {}}}}, why));
  EXPECT_FALSE(Applies(s, {{"min_boot_branch", {true, 0, {}}}}, why));
  EXPECT_EQ(why, "a minimum boot branch of 0 leaves no branch below it (the image's min_boot_branch is 0)");
  struct Row {
    const char* op;
    int64_t value;
    bool holds;  // for 5
  };
  for (const Row row : {Row{">=", 5, true}, Row{">", 5, false}, Row{"<=", 5, true}, Row{"<", 5, false},
                        Row{"==", 5, true}, Row{"!=", 5, false}, Row{"<", 6, true}, Row{"!=", 4, true}}) {
    SCOPED_TRACE(row.op);
    s.needs = {{"v", row.op, row.value, "why"}};
    EXPECT_EQ(Applies(s, {{"v", {true, 5, {}}}}, why), row.holds);
  }
  EXPECT_FALSE(Applies(s, {}, why));
  EXPECT_EQ(why, "no number is called \"v\"");
}

}  // namespace
