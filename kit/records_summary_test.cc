#include "records_summary.h"

#include <gtest/gtest.h>

namespace {

RecordedRun Run(size_t line, const char* typed, const char* start, const char* outcome, const char* release = "1.1.5(1)") {
  RecordedRun r;
  r.line = line;
  r.started = true;
  r.ended = outcome != nullptr;
  r.facts.session = "s";
  r.facts.run = static_cast<int64_t>(line);
  r.facts.pc = "PC1";
  r.facts.user = "op";
  r.facts.typed = typed;
  r.facts.start = start;
  r.facts.tool_release = "1.1.5(1)";
  if (outcome) {
    r.facts.outcome = outcome;
    r.facts.recognised = std::string(outcome) != "outcome not recognised";
    r.facts.release = release;
    r.facts.status = std::string(outcome) == "PROGRAMMING SUCCESSFUL" ? 0 : 1;
  }
  return r;
}

std::vector<RecordSource> Files() {
  RecordSource a{"a.jsonl", {}};
  a.reading.runs = {Run(1, "42", "2025-01-01T10:00:00.000Z", "PROGRAMMING SUCCESSFUL"),
                    Run(3, "57", "2025-01-01T10:00:01.000Z", "CODE FLASH ERASE FAILED"),
                    Run(5, "0042", "2025-01-01T11:00:00.000Z", "PROGRAMMING SUCCESSFUL", "1.1.6(2)"),
                    Run(7, "108", "2025-01-01T12:00:00.000Z", nullptr)};
  a.reading.damaged = {{9, "cut short: the file ends inside it"}};
  RecordSource b{"b.jsonl", {}};
  // Started before a's last run of 57: b's earlier run is not its last.
  b.reading.runs = {Run(1, "57", "2025-01-01T09:00:00.000Z", "PROGRAMMING SUCCESSFUL"),
                    Run(3, "=1+2", "2025-01-01T09:30:00.000Z", "THAT SERIAL NUMBER IS NOT IN THE LIST OF DEVICES FOUND",
                        "")};
  b.reading.runs.back().facts.tool_release.clear();
  return {a, b};
}

TEST(RecordsSummaryTest, SummarisesSeveralFiles) {
  EXPECT_EQ(RecordsReport(Files()),
            "2 files, 6 runs (5 ended, 1 with no end)\n"
            "\n"
            "lines skipped, not whole records (1):\n"
            "  a.jsonl:9: cut short: the file ends inside it\n"
            "\n"
            "runs by release and outcome:\n"
            "  runs   release   outcome\n"
            "  1      (none)    THAT SERIAL NUMBER IS NOT IN THE LIST OF DEVICES FOUND\n"
            "  1      1.1.5(1)  (no end)\n"
            "  1      1.1.5(1)  CODE FLASH ERASE FAILED\n"
            "  2      1.1.5(1)  PROGRAMMING SUCCESSFUL\n"
            "  1      1.1.6(2)  PROGRAMMING SUCCESSFUL\n"
            "\n"
            "devices whose last run did not succeed: 3\n"
            "  \"=1+2\"  THAT SERIAL NUMBER IS NOT IN THE LIST OF DEVICES FOUND, started 2025-01-01T09:30:00.000Z on PC1 "
            "(b.jsonl:3)\n"
            "  0057  CODE FLASH ERASE FAILED, started 2025-01-01T10:00:01.000Z on PC1 (a.jsonl:3)\n"
            "  0108  no end, started 2025-01-01T12:00:00.000Z on PC1 (a.jsonl:7)\n"
            "\n"
            "devices programmed more than once: 1\n"
            "  0042  2 times: 2025-01-01T10:00:00.000Z (1.1.5(1)) 2025-01-01T11:00:00.000Z (1.1.6(2))\n"
            "\n"
            "runs with no end: 1\n"
            "  0108  started 2025-01-01T12:00:00.000Z on PC1 by op (a.jsonl:7): the device may be erased; program it "
            "again\n");
}

TEST(RecordsSummaryTest, WritesCsvASpreadsheetReadsSafely) {
  std::vector<RecordSource> files = Files();
  RunFacts& f = files[0].reading.runs[0].facts;
  f.device = "Found : K27#0042 (Bench, \"B\") BootV1.3";
  f.erase_seconds = 1.7714;
  f.typed = "-42";
  const std::string csv = RecordsCsv(files);
  ASSERT_EQ(csv.substr(0, 3), "\xEF\xBB\xBF");
  std::vector<std::string> rows;
  for (size_t at = 3; at < csv.size();) {
    const size_t end = csv.find("\r\n", at);
    rows.push_back(csv.substr(at, end - at));
    at = end + 2;
  }
  ASSERT_EQ(rows.size(), 7u);
  EXPECT_EQ(rows[0],
            "file,line,session,run,pc,user,typed,serial,device,release,outcome,status,start,end,erase_seconds,"
            "program_seconds,tool,tool_sha256,tool_release");
  EXPECT_EQ(rows[1],
            "a.jsonl,1,s,1,PC1,op,-42,-42,\"Found : K27#0042 (Bench, \"\"B\"\") BootV1.3\",1.1.5(1),"
            "PROGRAMMING SUCCESSFUL,0,2025-01-01T10:00:00.000Z,,1.771,,,,1.1.5(1)");
  // A run with no end has no outcome; a typed formula stays text.
  EXPECT_EQ(rows[4], "a.jsonl,7,s,7,PC1,op,108,108,,,,,2025-01-01T12:00:00.000Z,,,,,,1.1.5(1)");
  EXPECT_EQ(rows[6],
            "b.jsonl,3,s,3,PC1,op,'=1+2,,,,THAT SERIAL NUMBER IS NOT IN THE LIST OF DEVICES FOUND,1,"
            "2025-01-01T09:30:00.000Z,,,,,,");
}

}  // namespace
