#include "report.h"

#include <cstdio>
#include <map>
#include <set>

#include "model/outcomes.h"

namespace {

std::string Seconds(double s) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", s);
  return text;
}

std::string Plural(size_t n, const char* one) { return std::to_string(n) + " " + one + (n == 1 ? "" : "s"); }

}  // namespace

std::string ResultLine(const ScenarioResult& r) {
  const std::string note = r.note.empty() ? "" : " (" + r.note + ")";
  switch (r.kind) {
    case ResultKind::kPassed:
      return "passed          " + r.scenario->name + note;
    case ResultKind::kFailed:
      return "FAILED          " + r.scenario->name + ": " +
             (r.differences.empty() ? std::string("(no difference recorded)") : r.differences.front()) + note;
    case ResultKind::kNotApplicable:
      return "not applicable  " + r.scenario->name + ": " + r.why_not;
  }
  return {};
}

std::string CoverageReport(const std::vector<ScenarioResult>& results, bool& complete) {
  struct Count {
    size_t passed = 0, failed = 0, not_applicable = 0;
    std::string why_not;
  };
  std::map<std::string, Count> counts;
  for (const ScenarioResult& r : results) {
    // A scenario of several runs reaches each of their outcomes.
    std::set<std::string> outcomes;
    for (const ScenarioRun* run : RunsOf(*r.scenario)) {
      if (!run->outcome.empty()) outcomes.insert(run->outcome);
    }
    for (const std::string& outcome : outcomes) {
      Count& c = counts[outcome];
      if (r.kind == ResultKind::kPassed) ++c.passed;
      if (r.kind == ResultKind::kFailed) ++c.failed;
      if (r.kind == ResultKind::kNotApplicable) {
        ++c.not_applicable;
        if (c.why_not.empty()) c.why_not = r.why_not;
      }
    }
  }
  std::string lines;
  size_t reachable = 0, reached = 0;
  complete = true;
  for (const model::Outcome& o : model::Outcomes()) {
    const Count c = counts.count(o.message) ? counts[o.message] : Count();
    if (o.unreachable) {
      lines += "  not reachable    " + std::string(o.message) + ": " + o.unreachable + "\n";
      continue;
    }
    if (c.passed == 0 && c.failed == 0 && c.not_applicable > 0) {
      lines += "  not applicable   " + std::string(o.message) + ": " + c.why_not + "\n";
      continue;
    }
    ++reachable;
    if (c.passed > 0) {
      // Reached; a scenario that failed on the way fails the run all the same.
      ++reached;
      lines += "  reached          " + std::string(o.message) + " (" + Plural(c.passed, "scenario") +
               (c.failed ? "; " + std::to_string(c.failed) + " failed" : "") + ")\n";
    } else {
      complete = false;
      lines += "  NOT REACHED      " + std::string(o.message) +
               (c.failed ? " (" + Plural(c.failed, "scenario") + " failed)\n" : " (no scenario ends with it)\n");
    }
  }
  return "outcomes: " + std::to_string(reached) + " of the " + std::to_string(reachable) +
         " a run can reach with this image were reached\n" + lines;
}

// Text made safe for an XML attribute or element.
static std::string XmlEscape(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      default:
        // XML 1.0 has no place for other control characters.
        if (c < 0x20 && c != '\n' && c != '\r' && c != '\t') out += "?";
        else out += static_cast<char>(c);
    }
  }
  return out;
}

std::string JunitXml(const std::vector<ScenarioResult>& results, const ReportFacts& facts) {
  size_t failures = 0, skipped = 0;
  for (const ScenarioResult& r : results) {
    failures += r.kind == ResultKind::kFailed;
    skipped += r.kind == ResultKind::kNotApplicable;
  }
  const std::string counts = " tests=\"" + std::to_string(results.size()) + "\" failures=\"" +
                             std::to_string(failures) + "\" errors=\"0\" skipped=\"" + std::to_string(skipped) +
                             "\" time=\"" + Seconds(facts.seconds) + "\"";
  std::string x = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  x += "<testsuites name=\"k27kit qualify\"" + counts + ">\n";
  x += "  <testsuite name=\"" + XmlEscape("k27prog " + facts.release) + "\"" + counts + " timestamp=\"" +
       XmlEscape(facts.timestamp) + "\">\n";
  x += "    <properties>\n";
  const std::pair<const char*, const std::string*> properties[] = {{"program", &facts.program},
                                                                   {"sha256", &facts.sha256},
                                                                   {"release", &facts.release},
                                                                   {"registration", &facts.registration}};
  for (const auto& [name, value] : properties) {
    x += "      <property name=\"" + std::string(name) + "\" value=\"" + XmlEscape(*value) + "\"/>\n";
  }
  x += "    </properties>\n";
  for (const ScenarioResult& r : results) {
    x += "    <testcase classname=\"" + XmlEscape("catalogue." + r.scenario->group) + "\" name=\"" +
         XmlEscape(r.scenario->name) + "\" time=\"" + Seconds(r.seconds) + "\"";
    if (r.kind == ResultKind::kPassed) {
      x += "/>\n";
      continue;
    }
    x += ">\n";
    if (r.kind == ResultKind::kNotApplicable) {
      x += "      <skipped message=\"" + XmlEscape(r.why_not) + "\"/>\n";
    } else {
      std::string all;
      for (const std::string& d : r.differences) all += d + "\n";
      x += "      <failure message=\"" + XmlEscape(r.differences.empty() ? "" : r.differences.front()) +
           "\" type=\"difference\">" + XmlEscape(all) + "</failure>\n";
      x += "      <system-out>" + XmlEscape(r.transcript) + "</system-out>\n";
    }
    x += "    </testcase>\n";
  }
  x += "  </testsuite>\n</testsuites>\n";
  return x;
}
