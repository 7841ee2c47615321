#include "verdict.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "model/block_crc.h"
#include "model/block_layout.h"

namespace {

constexpr int64_t kRunStart = 1765000000;

// A small code block: header, a profile block at offset 100, a checksum.
CarriedImage Image() {
  CarriedImage image;
  image.code.resize(256);
  for (size_t i = 0; i < image.code.size(); ++i) image.code[i] = static_cast<uint8_t>(i * 7 + 3);
  model::PutBig(image.code.data() + model::kTimeStampAt, 4, 0);
  image.profile_offset = 100;
  image.profile_size = 64;
  model::SealBlock(image.code.data(), image.code.size());
  image.values = {{"release", {false, 0, "1.1.5(1)"}},
                  {"code_size", {true, 256, {}}},
                  {"profile_size", {true, 64, {}}}};
  return image;
}

// The code block as the tool must send it: stamped with `stamp`, sealed.
std::vector<uint8_t> Stamped(const CarriedImage& image, uint32_t stamp) {
  std::vector<uint8_t> code = image.code;
  model::PutBig(code.data() + model::kTimeStampAt, 4, stamp);
  model::SealBlock(code.data(), code.size());
  return code;
}

nlohmann::json Array(size_t length, const char* file) {
  return {{"vartype", 17}, {"dims", 1}, {"lower_bound", 0}, {"count", length}, {"length", length}, {"file", file}};
}

nlohmann::json Line(const char* op, nlohmann::json out = nlohmann::json::object(), const char* hr = "0x00000000") {
  return {{"op", op}, {"args", nlohmann::json::object()}, {"hresult", hr}, {"out", std::move(out)}};
}

Scenario Programming() {
  Scenario s;
  s.name = "programmed";
  s.outcome = "PROGRAMMING SUCCESSFUL";
  s.status = 0;
  s.typed = "42";
  s.transcript = {"k27prog - K27 firmware programmer", "Ready to program K27 firmware release {release}",
                  "Code flash program ... complete ({secs}secs)", "PROGRAMMING SUCCESSFUL", "Press space to exit"};
  s.calls = nlohmann::json::array(
      {{{"op", "LoadProfile"}, {"args", {{"profile", "{profile_array}"}}}},
       {{"op", "OpenCodeProgramming"}},
       {{"op", "AcquireGroup"}, {"args", {{"group_id", 513}}}},
       {{"op", "EraseStart"}},
       {{"op", "ErasePoll"}},
       {{"op", "Program"}, {"args", {{"length", "{code_size}"}, {"code", "{code_array}"}}}},
       {{"op", "Reset"}}});
  return s;
}

// A run that did what Programming() says.
struct Fixture {
  CarriedImage image = Image();
  RunRecord run;
  std::map<std::string, std::vector<uint8_t>> files;

  Fixture() {
    run.exit_status = 0;
    run.started = kRunStart;
    run.ended = kRunStart + 2;
    run.output =
        "k27prog - K27 firmware programmer\r\nReady to program K27 firmware release 1.1.5(1)\r\n"
        "Code flash program ... complete (0.213secs)\r\nPROGRAMMING SUCCESSFUL\r\nPress space to exit\r\n";
    nlohmann::json load = Line("LoadProfile");
    load["args"] = {{"profile", Array(64, "LoadProfile-1.bin")}};
    nlohmann::json group = Line("AcquireGroup", {{"status", 0}});
    group["args"] = {{"group_id", 513}, {"group_uuid", "{01234567-89AB-CDEF-0123-456789ABCDEF}"}};
    nlohmann::json program = Line("Program", {{"status", 0}});
    program["args"] = {{"address", 524288}, {"length", 256}, {"code", Array(256, "Program-1.bin")}};
    run.journal = {{{"op", "Start"}, {"bench", "C:\\b.json"}},
                   {{"op", "Client"}, {"client_pid", 8}},
                   load,
                   Line("OpenCodeProgramming", {{"reference", true}}),
                   group,
                   Line("EraseStart", {{"status", 17}}),
                   Line("ErasePoll", {{"status", 0}}),
                   program,
                   Line("Reset", {{"status", 0}}),
                   {{"op", "Exit"}, {"reason", "released"}}};
    files["LoadProfile-1.bin"] =
        std::vector<uint8_t>(image.code.begin() + 100, image.code.begin() + 164);
    files["Program-1.bin"] = Stamped(image, kRunStart + 1);
    run.read_array = [this](const std::string& name, std::vector<uint8_t>& bytes) {
      const auto found = files.find(name);
      if (found == files.end()) return false;
      bytes = found->second;
      return true;
    };
  }

  nlohmann::json& Op(const char* op) {
    for (nlohmann::json& line : run.journal) {
      if (line["op"] == op) return line;
    }
    throw std::runtime_error(op);
  }

  std::vector<std::string> Differences(const Scenario& s = Programming()) { return FindDifferences(s, run, image); }
};

TEST(VerdictTest, ARunAsDocumentedHasNoDifference) {
  Fixture f;
  EXPECT_EQ(f.Differences(), std::vector<std::string>{});
}

// Each row damages the documented run in one way; the first difference
// found must name it.
TEST(VerdictTest, EachFaultIsNamedFirst) {
  struct Row {
    const char* name;
    std::function<void(Fixture&)> damage;
    const char* first;
  };
  const Row rows[] = {
      {"a line one character off",
       [](Fixture& f) { f.run.output.replace(f.run.output.find("SUCCESSFUL"), 10, "SUCCESSFUl"); },
       "transcript line 4: expected \"PROGRAMMING SUCCESSFUL\", got \"PROGRAMMING SUCCESSFUl\""},
      {"a line missing",
       [](Fixture& f) { f.run.output.erase(f.run.output.find("Press space")); },
       "transcript line 5: expected \"Press space to exit\", but the transcript ends"},
      {"a line too many", [](Fixture& f) { f.run.output += "extra\r\n"; },
       "transcript line 6: expected the end, got \"extra\""},
      {"a bare line feed",
       [](Fixture& f) { f.run.output.erase(f.run.output.find("\r\nReady"), 1); },
       "transcript line 1 ends without a carriage return"},
      {"the time shown to two decimals",
       [](Fixture& f) { f.run.output.replace(f.run.output.find("0.213"), 5, "0.21"); },
       "transcript line 3: expected \"Code flash program ... complete ({secs}secs)\", got \"Code flash program ... "
       "complete (0.21secs)\""},
      {"the wrong exit status", [](Fixture& f) { f.run.exit_status = 1; }, "exit status 1, expected 0"},
      {"a call missing",
       [](Fixture& f) { f.run.journal.erase(f.run.journal.begin() + 8); },
       "call 7: expected Reset, but the simulator received 6 call(s)"},
      {"a call too many",
       [](Fixture& f) { f.run.journal.insert(f.run.journal.end() - 1, Line("GetVersion")); },
       "call 8: expected no more calls, got GetVersion"},
      {"an argument that differs",
       [](Fixture& f) { f.Op("AcquireGroup")["args"]["group_id"] = 512; },
       "call 3 (AcquireGroup) args.group_id is 512, expected 513"},
      {"the profile from another image",
       [](Fixture& f) { f.files["LoadProfile-1.bin"][10] ^= 1; },
       "call 1 (LoadProfile) args.profile: byte 10 differs from the program's own profile block"},
      {"the profile array from index 1",
       [](Fixture& f) { f.Op("LoadProfile")["args"]["profile"]["lower_bound"] = 1; },
       "call 1 (LoadProfile) args.profile: lower_bound 1, expected 0"},
      {"the code array one byte short",
       [](Fixture& f) { f.Op("Program")["args"]["code"]["count"] = 255; },
       "call 6 (Program) args.code: count 255, expected 256"},
      {"a code byte changed beside the stamp",
       [](Fixture& f) {
         auto& code = f.files["Program-1.bin"];
         code[56] ^= 0x80;
         model::SealBlock(code.data(), code.size());
       },
       "call 6 (Program) args.code: byte 56 differs from the program's own code block (only the time stamp at 52 "
       "and the checksum may)"},
      {"the time stamp little-endian",
       [](Fixture& f) {
         auto& code = f.files["Program-1.bin"];
         const uint32_t stamp = kRunStart + 1;
         for (int i = 0; i < 4; ++i) code[model::kTimeStampAt + i] = static_cast<uint8_t>(stamp >> (8 * i));
         model::SealBlock(code.data(), code.size());
       },
       "call 6 (Program) args.code: time stamp 0x41C33369 (1103311721) is not the time of the run (1765000000 to "
       "1765000002, big-endian at offset 52)"},
      {"the time stamp of another moment",
       [](Fixture& f) { f.files["Program-1.bin"] = Stamped(f.image, kRunStart - 60); },
       "call 6 (Program) args.code: time stamp 0x6933C304 (1764999940) is not the time of the run (1765000000 to "
       "1765000002, big-endian at offset 52)"},
      {"the checksum not made anew",
       [](Fixture& f) {
         auto& code = f.files["Program-1.bin"];
         std::copy(f.image.code.end() - 4, f.image.code.end(), code.end() - 4);
       },
       ""},  // filled in below: the message names both words
      {"the device touched before the interface was open",
       [](Fixture& f) { std::swap(f.run.journal[3], f.run.journal[4]); },
       "AcquireGroup reached the device before the code-programming interface was open"},
      {"programming while the erase still runs",
       [](Fixture& f) { f.Op("ErasePoll")["out"]["status"] = 17; },
       "Program reached the device while the erase was still running (ErasePoll answered status 17)"},
      {"a reset after a failed program",
       [](Fixture& f) { f.Op("Program")["out"]["status"] = 2; },
       "Reset reached the device after the run's last step (Program answered status 2)"},
      {"an erase after a refused group",
       [](Fixture& f) { f.Op("AcquireGroup")["out"]["status"] = 4; },
       "EraseStart reached the device after the run's last step (AcquireGroup answered status 4)"},
      {"the program array not kept", [](Fixture& f) { f.files.erase("Program-1.bin"); },
       "call 6 (Program) args.code: the array's bytes were not kept by the simulator"},
      {"a run that hung at its end",
       [](Fixture& f) {
         f.run.timed_out = true;
         f.run.journal.pop_back();
       },
       "no end within 60 s: the run was stopped (its last line \"Press space to exit\"; the simulator's last entry "
       "Reset, after 7 calls)"},
      {"a run that hung in a call",
       [](Fixture& f) {
         f.run.timed_out = true;
         f.run.output.erase(f.run.output.find("Code flash"));
         f.run.journal.resize(4);
       },
       "no end within 60 s: the run was stopped (its last line \"Ready to program K27 firmware release 1.1.5(1)\"; "
       "the simulator's last entry OpenCodeProgramming, after 2 calls)"},
      {"a run that hung after its server ended",
       [](Fixture& f) {
         f.run.timed_out = true;
         f.run.journal.erase(f.run.journal.begin() + 3, f.run.journal.end() - 1);
       },
       "no end within 60 s: the run was stopped (its last line \"Press space to exit\"; the simulator's last entry "
       "Exit (released), after 1 call)"},
      {"a run that hung after its creation, its server ending once it was stopped",
       [](Fixture& f) {
         f.run.timed_out = true;
         f.run.output.clear();
         f.run.journal.resize(3);
         f.run.journal[2]["ms"] = 1765300000000;
         f.run.journal.push_back({{"op", "Exit"}, {"reason", "creator gone"}, {"ms", 1765300050007}});
         f.run.stopped_ms = 1765300050000;
       },
       "no end within 60 s: the run was stopped (it wrote nothing; the simulator's last entry Exit (creator gone), "
       "written 7 ms after the run was stopped, after 1 call)"},
      {"a run that hung before it wrote or reached the simulator",
       [](Fixture& f) {
         f.run.timed_out = true;
         f.run.output.clear();
         f.run.journal.clear();
       },
       "no end within 60 s: the run was stopped (it wrote nothing; the simulator journaled nothing)"},
      {"a bench the simulator could not play",
       [](Fixture& f) { f.run.journal[0]["error"] = "devices[0]: unknown setting"; },
       "the simulator could not play the scenario's bench: \"devices[0]: unknown setting\""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Fixture f;
    row.damage(f);
    const std::vector<std::string> found = f.Differences();
    ASSERT_FALSE(found.empty());
    if (std::string(row.first).empty()) {
      EXPECT_EQ(found.front().rfind("call 6 (Program) args.code: checksum word ", 0), 0u) << found.front();
      EXPECT_NE(found.front().find(" is not the stamped block's checksum 0x"), std::string::npos) << found.front();
    } else {
      EXPECT_EQ(found.front(), row.first);
    }
  }
}

TEST(VerdictTest, ARunThatEndsBeforeTheDeviceNeverReachesIt) {
  // A boot code too old: the run ends after the interfaces are open, and
  // nothing may reach the device.
  Scenario s;
  s.name = "boot-too-low";
  s.outcome = "BOOT CODE BRANCH TOO LOW FOR THIS CODE";
  s.status = 1;
  s.transcript = {"BOOT CODE BRANCH TOO LOW FOR THIS CODE", "Press space to exit"};
  s.calls = nlohmann::json::array({{{"op", "OpenCodeProgramming"}}});
  Fixture f;
  f.run.exit_status = 1;
  f.run.output = "BOOT CODE BRANCH TOO LOW FOR THIS CODE\r\nPress space to exit\r\n";
  f.run.journal = {Line("OpenCodeProgramming", {{"reference", true}})};
  EXPECT_EQ(f.Differences(s), std::vector<std::string>{});
  f.run.journal.push_back(Line("AcquireGroup", {{"status", 0}}));
  const std::vector<std::string> found = f.Differences(s);
  ASSERT_FALSE(found.empty());
  EXPECT_EQ(found.front(), "AcquireGroup reached the device, though the run ends with \"BOOT CODE BRANCH TOO LOW "
                           "FOR THIS CODE\" before the device may be touched");

  // A damaged image: the server is never even started.
  s.outcome = "BAD CODE BLOCK MAGIC";
  s.transcript = {"k27prog - K27 firmware programmer", "BAD CODE BLOCK MAGIC", "Press space to exit"};
  s.calls = nlohmann::json::array();
  f.run.output = "k27prog - K27 firmware programmer\r\nBAD CODE BLOCK MAGIC\r\nPress space to exit\r\n";
  f.run.journal.clear();
  EXPECT_EQ(f.Differences(s), std::vector<std::string>{});
  f.run.journal = {{{"op", "Start"}, {"bench", "C:\\b.json"}}, {{"op", "Exit"}, {"reason", "never created"}}};
  EXPECT_EQ(f.Differences(s).front(),
            "the device server was started, though the run ends at the image with \"BAD CODE BLOCK MAGIC\"");
}

TEST(VerdictTest, ARunWhoseSimulatorNeverStartedDidNotMeetItsBench) {
  Scenario image = Programming();
  image.calls = nlohmann::json::array();
  struct Row {
    const char* what;
    const Scenario scenario;
    bool journaled, timed_out, met;
  } rows[] = {
      {"the simulator started", Programming(), true, false, true},
      {"no simulator, though the program was to reach one", Programming(), false, false, false},
      {"no simulator, the run stopped at its time-out", Programming(), false, true, true},
      {"no simulator, and none was to be reached", image, false, false, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Fixture f;
    if (!row.journaled) f.run.journal.clear();
    f.run.timed_out = row.timed_out;
    EXPECT_EQ(MetTheBench(row.scenario, f.run), row.met);
  }
}

// A shared bench's journal: two server processes (10, then 20), four
// clients. Each line carries "seq" to name it.
std::vector<nlohmann::json> SharedJournal() {
  int seq = 0;
  auto at = [&seq](int pid, nlohmann::json line) {
    line["pid"] = pid;
    line["seq"] = ++seq;
    return line;
  };
  return {
      at(10, {{"op", "Start"}}),                                                                    // 1
      at(10, {{"op", "CreateInstance"}, {"session", 1}, {"caller_pid", 100}}),                      // 2
      at(10, {{"op", "Client"}, {"session", 1}, {"client_pid", 100}}),                              // 3
      at(10, {{"op", "CreateInstance"}, {"session", 2}, {"caller_pid", 4}}),                        // 4: COM's own
      at(10, {{"op", "Client"}, {"session", 2}, {"client_pid", 200}}),                              // 5
      at(10, {{"op", "GetVersion"}, {"session", 1}, {"client_pid", 100}}),                          // 6
      at(10, {{"op", "GetVersion"}, {"session", 2}, {"client_pid", 200}}),                          // 7
      at(10, {{"op", "RunEnd"}, {"session", 2}, {"reason", "released"}}),                           // 8
      at(10, {{"op", "CreateInstance"}, {"caller_pid", 200}, {"hresult", "0x80040111"}}),           // 9: refused
      at(10, {{"op", "RunEnd"}, {"session", 1}, {"reason", "client gone"}}),                        // 10
      at(10, {{"op", "Exit"}, {"reason", "idle"}}),                                                 // 11
      at(20, {{"op", "Start"}}),                                                                    // 12
      at(20, {{"op", "CreateInstance"}, {"session", 1}, {"caller_pid", 300}}),                      // 13: died before a call
      at(20, {{"op", "CreateInstance"}, {"session", 2}, {"caller_pid", 400}}),                      // 14
      at(20, {{"op", "Client"}, {"session", 2}, {"client_pid", 400}}),                              // 15
      at(20, {{"op", "RunEnd"}, {"session", 1}, {"reason", "creator gone"}}),                       // 16
  };
}

std::vector<int> Seqs(const std::vector<nlohmann::json>& lines) {
  std::vector<int> seqs;
  for (const nlohmann::json& line : lines) seqs.push_back(line["seq"].get<int>());
  return seqs;
}

TEST(VerdictTest, EachRunOfASharedBenchGetsItsOwnLines) {
  const std::vector<nlohmann::json> journal = SharedJournal();
  const std::vector<int> servers = {1, 11, 12};
  struct Row {
    uint32_t client;
    std::vector<int> own;  // besides the servers' lines
  };
  for (const Row& row : {Row{100, {2, 3, 6, 10}}, Row{200, {4, 5, 7, 8, 9}}, Row{300, {13, 16}},
                         Row{400, {14, 15}}, Row{4, {}}, Row{999, {}}}) {
    SCOPED_TRACE(row.client);
    std::vector<int> expected = row.own;
    expected.insert(expected.end(), servers.begin(), servers.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Seqs(LinesOfRun(journal, row.client)), expected);
  }
  EXPECT_TRUE(RunsOver(journal, {100, 200, 300, 999}));
  EXPECT_FALSE(RunsOver(journal, {100, 400}));
  // Until its RunEnd, a run is not over; its server's end ends it too.
  std::vector<nlohmann::json> cut(journal.begin(), journal.begin() + 9);
  EXPECT_TRUE(RunsOver(cut, {200}));
  EXPECT_FALSE(RunsOver(cut, {100}));
  cut.push_back({{"op", "Exit"}, {"pid", 10}});
  EXPECT_TRUE(RunsOver(cut, {100}));
}

// Two runs started together on a shared bench: one programs, one is
// refused at the group, either may be first.
TEST(VerdictTest, RunsStartedTogetherMeetTheirExpectationsInAnyOrder) {
  Scenario s = Programming();
  s.name = "same-device";
  ScenarioRun programs = s, refused;
  refused.outcome = "COULD NOT ACQUIRE CODE PROGRAMMING GROUP AT DEVICE";
  refused.status = 1;
  refused.together = true;
  refused.transcript = {"COULD NOT ACQUIRE CODE PROGRAMMING GROUP AT DEVICE", "Press space to exit"};
  refused.calls = nlohmann::json::array({{{"op", "OpenCodeProgramming"}}, {{"op", "AcquireGroup"}, {"out", {{"status", 263}}}}});
  s.runs = {programs, refused};
  Fixture f;
  RunRecord lost;
  lost.exit_status = 1;
  lost.output = "COULD NOT ACQUIRE CODE PROGRAMMING GROUP AT DEVICE\r\nPress space to exit\r\n";
  lost.journal = {Line("OpenCodeProgramming", {{"reference", true}}), Line("AcquireGroup", {{"status", 263}})};
  const nlohmann::json no_state;
  EXPECT_EQ(FindScenarioDifferences(s, {f.run, lost}, no_state, f.image), std::vector<std::string>{});
  EXPECT_EQ(FindScenarioDifferences(s, {lost, f.run}, no_state, f.image), std::vector<std::string>{});
  // Both refused: no order fits; the differences in the order listed.
  const std::vector<std::string> found = FindScenarioDifferences(s, {lost, lost}, no_state, f.image);
  ASSERT_FALSE(found.empty());
  EXPECT_EQ(found[0], "run 1: transcript line 1: expected \"k27prog - K27 firmware programmer\", got \"COULD NOT "
                      "ACQUIRE CODE PROGRAMMING GROUP AT DEVICE\" (runs 1 to 2 were started together: no order of "
                      "their expectations fits them)");
  // Started one after the other, each is held to its own.
  s.runs[1].together = false;
  EXPECT_EQ(FindScenarioDifferences(s, {lost, f.run}, no_state, f.image).front(),
            "run 1: transcript line 1: expected \"k27prog - K27 firmware programmer\", got \"COULD NOT ACQUIRE CODE "
            "PROGRAMMING GROUP AT DEVICE\"");
}

TEST(VerdictTest, ARunStoppedFromOutsideIsCheckedAsFarAsItGot) {
  ScenarioRun stopped = Programming();
  stopped.outcome.clear();
  stopped.stop_at = "erasing ... ";
  stopped.transcript = {"k27prog - K27 firmware programmer", "Code flash erase ... erasing ... "};
  stopped.calls = nlohmann::json::array({{{"op", "LoadProfile"}}, {{"op", "OpenCodeProgramming"}},
                                         {{"op", "AcquireGroup"}}, {{"op", "EraseStart"}}});
  Fixture f;
  f.run.stopped = true;
  f.run.exit_status = 1;
  f.run.output = "k27prog - K27 firmware programmer\r\nCode flash erase ... erasing ... ";
  // The poll it had made before it was stopped is answered all the same.
  f.run.journal.resize(7);
  EXPECT_EQ(FindRunDifferences(stopped, 60, f.run, f.image), std::vector<std::string>{});
  f.run.stopped = false;
  const std::vector<std::string> found = FindRunDifferences(stopped, 60, f.run, f.image);
  ASSERT_FALSE(found.empty());
  EXPECT_EQ(found.front(), "the run ended by itself (exit status 1) before its output held \"erasing ... \"");
}

TEST(VerdictTest, TheDevicesAfterTheRunsAreTheStateFilesSay) {
  Scenario s = Programming();
  s.runs = {s};
  s.devices_after = {{{"serial", 42}, {"flash", "running"}, {"code_version", {"{code_size}", 0, 0}}}};
  Fixture f;
  const nlohmann::json state = {{"devices", {{{"serial", 42}, {"flash", "running"}, {"code_version", {256, 0, 0}},
                                              {"changes", 4}}}}};
  EXPECT_EQ(FindScenarioDifferences(s, {f.run}, state, f.image), std::vector<std::string>{});
  nlohmann::json erased = state;
  erased["devices"][0]["flash"] = "erased";
  EXPECT_EQ(FindScenarioDifferences(s, {f.run}, erased, f.image),
            std::vector<std::string>{"after the runs, device 1.flash is \"erased\", expected \"running\""});
  EXPECT_EQ(FindScenarioDifferences(s, {f.run}, nlohmann::json(), f.image),
            std::vector<std::string>{"the bench's state file holds no devices after the runs (it was not written)"});
  erased["devices"] = nlohmann::json::array();
  EXPECT_EQ(FindScenarioDifferences(s, {f.run}, erased, f.image),
            std::vector<std::string>{"after the runs, device 1: not in the state file"});
}

TEST(VerdictTest, TranscriptLinesSplitAtCrlf) {
  std::string problem;
  EXPECT_EQ(TranscriptLines("a\r\nb\r\n", problem), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(problem, "");
  EXPECT_EQ(TranscriptLines("a\r\nb", problem), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(problem, "the last line has no line end");
  problem.clear();
  EXPECT_EQ(TranscriptLines("", problem), std::vector<std::string>{});
  EXPECT_EQ(problem, "");
}

}  // namespace
