#include "report.h"

#include <gtest/gtest.h>

#include "model/outcomes.h"

namespace {

Scenario Named(const char* name, const char* outcome, const char* group = "devices") {
  Scenario s;
  s.name = name;
  s.group = group;
  s.outcome = outcome;
  return s;
}

ScenarioResult Result(const Scenario* s, ResultKind kind, std::vector<std::string> differences = {},
                      std::string why_not = "", double seconds = 0, std::string transcript = "") {
  ScenarioResult r;
  r.scenario = s;
  r.kind = kind;
  r.differences = std::move(differences);
  r.why_not = std::move(why_not);
  r.seconds = seconds;
  r.transcript = std::move(transcript);
  return r;
}

TEST(ReportTest, OneLinePerScenario) {
  const Scenario s = Named("no-devices", "NO DEVICES FOUND");
  EXPECT_EQ(ResultLine(Result(&s, ResultKind::kPassed)), "passed          no-devices");
  EXPECT_EQ(ResultLine(Result(&s, ResultKind::kFailed, {"exit status 0, expected 1", "call 3: ..."})),
            "FAILED          no-devices: exit status 0, expected 1");
  EXPECT_EQ(ResultLine(Result(&s, ResultKind::kNotApplicable, {}, "no branch below 0")),
            "not applicable  no-devices: no branch below 0");
  ScenarioResult twice = Result(&s, ResultKind::kPassed);
  twice.note = "played twice: the bench simulator did not start the first time";
  EXPECT_EQ(ResultLine(twice), "passed          no-devices (played twice: the bench simulator did not start the first time)");
}

TEST(ReportTest, CoverageNamesEveryOutcome) {
  std::vector<Scenario> scenarios;
  for (const model::Outcome& o : model::Outcomes()) {
    if (!o.unreachable) scenarios.push_back(Named(o.message, o.message));
  }
  std::vector<ScenarioResult> results;
  for (const Scenario& s : scenarios) results.push_back(Result(&s, ResultKind::kPassed));
  // As many as the model's table holds that a run can reach.
  auto first_line = [](size_t n) {
    return "outcomes: " + std::to_string(n) + " of the " + std::to_string(n) +
           " a run can reach with this image were reached";
  };
  bool complete = false;
  std::string report = CoverageReport(results, complete);
  EXPECT_TRUE(complete);
  EXPECT_EQ(report.substr(0, report.find('\n')), first_line(scenarios.size()));
  EXPECT_NE(report.find("\n  reached          NO DEVICES FOUND (1 scenario)\n"), std::string::npos);
  EXPECT_NE(report.find("\n  not reachable    OUT OF MEMORY: "), std::string::npos);
  EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), static_cast<long>(model::Outcomes().size()) + 1);

  // A boot gate an image makes unreachable is not a gap; a failed scenario is.
  for (ScenarioResult& r : results) {
    if (r.scenario->outcome == "BOOT CODE BRANCH TOO LOW FOR THIS CODE") {
      r.kind = ResultKind::kNotApplicable;
      r.why_not = "a minimum boot branch of 0";
    }
  }
  report = CoverageReport(results, complete);
  EXPECT_TRUE(complete);
  EXPECT_EQ(report.substr(0, report.find('\n')), first_line(scenarios.size() - 1));
  EXPECT_NE(report.find("\n  not applicable   BOOT CODE BRANCH TOO LOW FOR THIS CODE: a minimum boot branch of 0\n"),
            std::string::npos);
  // Reached by one scenario, failed by another: reached, the failure named.
  const Scenario again = Named("again", results[3].scenario->outcome.c_str());
  results.push_back(Result(&again, ResultKind::kFailed));
  report = CoverageReport(results, complete);
  EXPECT_TRUE(complete);
  EXPECT_NE(report.find("\n  reached          " + again.outcome + " (1 scenario; 1 failed)\n"), std::string::npos);
  results.pop_back();
  results[3].kind = ResultKind::kFailed;
  report = CoverageReport(results, complete);
  EXPECT_FALSE(complete);
  EXPECT_NE(report.find("\n  NOT REACHED      " + results[3].scenario->outcome + " (1 scenario failed)\n"),
            std::string::npos);
  results.erase(results.begin() + 3);
  report = CoverageReport(results, complete);
  EXPECT_FALSE(complete);
  EXPECT_NE(report.find(" (no scenario ends with it)\n"), std::string::npos);
}

TEST(ReportTest, JunitHoldsEveryScenarioEscaped) {
  const Scenario a = Named("passes", "NO DEVICES FOUND");
  const Scenario b = Named("fails", "RESET REJECTED", "programming");
  const Scenario c = Named("skipped", "BOOT CODE BRANCH TOO LOW FOR THIS CODE", "programming");
  const std::vector<ScenarioResult> results = {
      Result(&a, ResultKind::kPassed, {}, {}, 1.5),
      Result(&b, ResultKind::kFailed, {"transcript line 2: expected \"<A & B>\", got 'x'", "exit status 0, expected 1"},
             {}, 0.25, "out\x01put"),
      Result(&c, ResultKind::kNotApplicable, {}, "branch 0 & below"),
  };
  const std::string xml = JunitXml(results, {"C:\\k27kit\\k27prog.exe", "abc", "1.1.5(1)", "HKLM", "2026-12-09T03:00:00Z", 2.0});
  EXPECT_EQ(xml.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites name=\"k27kit qualify\" tests=\"3\" "
                      "failures=\"1\" errors=\"0\" skipped=\"1\" time=\"2.000\">\n", 0),
            0u)
      << xml;
  EXPECT_NE(xml.find("<testcase classname=\"catalogue.devices\" name=\"passes\" time=\"1.500\"/>"), std::string::npos);
  EXPECT_NE(xml.find("<failure message=\"transcript line 2: expected &quot;&lt;A &amp; B&gt;&quot;, got &apos;x&apos;\" "
                     "type=\"difference\">"),
            std::string::npos);
  EXPECT_NE(xml.find("exit status 0, expected 1\n</failure>"), std::string::npos);
  EXPECT_NE(xml.find("<system-out>out?put</system-out>"), std::string::npos);
  EXPECT_NE(xml.find("<skipped message=\"branch 0 &amp; below\"/>"), std::string::npos);
  EXPECT_NE(xml.find("<property name=\"program\" value=\"C:\\k27kit\\k27prog.exe\"/>"), std::string::npos);
  EXPECT_TRUE(xml.ends_with("    </testcase>\n  </testsuite>\n</testsuites>\n")) << xml;
}

}  // namespace
