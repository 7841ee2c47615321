#ifndef K27_KIT_REPORT_H_
#define K27_KIT_REPORT_H_

// What qualification prints and writes: one line per scenario, which
// outcomes the scenarios reached, and a JUnit XML report for a CI server.

#include <string>
#include <vector>

#include "catalogue.h"

enum class ResultKind { kPassed, kFailed, kNotApplicable };

struct ScenarioResult {
  const Scenario* scenario = nullptr;
  ResultKind kind = ResultKind::kPassed;
  std::vector<std::string> differences;  // failed: the first is the line's
  std::string why_not;                   // not applicable: why
  double seconds = 0;
  std::string transcript;                // what the run printed
  std::string note;                      // how it was played, when not as usual
};

// "passed          NAME", "FAILED          NAME: first difference",
// "not applicable  NAME: why"; a note, when there is one, follows in
// parentheses.
std::string ResultLine(const ScenarioResult& result);

// Every outcome of the table: reached by which passing scenarios, not
// reached, not applicable to this image, or not reachable by any run.
// `complete` tells whether every outcome a run can reach with this image
// was reached (only asked of a run of the whole catalogue).
std::string CoverageReport(const std::vector<ScenarioResult>& results, bool& complete);

struct ReportFacts {
  std::string program;   // the program qualified, as named
  std::string sha256;
  std::string release;
  std::string registration;  // where the simulator was registered
  std::string timestamp;     // ISO 8601, UTC
  double seconds = 0;
};

// JUnit XML: one test suite, one test case per scenario (class name: its
// catalogue file), failures with every difference, skips with the reason.
std::string JunitXml(const std::vector<ScenarioResult>& results, const ReportFacts& facts);

#endif  // K27_KIT_REPORT_H_
