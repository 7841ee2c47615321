#include "qualify_command.h"

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <ctime>
#include <filesystem>
#include <optional>

#include "bench/bench_file.h"
#include "bench/bench_state.h"
#include "bench/register_win.h"
#include "carried_image.h"
#include "catalogue.h"
#include "image_recipe.h"
#include "journal_lines.h"
#include "k27image/resource_update.h"
#include "lib/child_run.h"
#include "lib/file_bytes.h"
#include "lib/long_path.h"
#include "lib/reject.h"
#include "lib/sha256.h"
#include "lib/switch_output.h"
#include "lib/wide_text.h"
#include "report.h"
#include "run_registration.h"
#include "verdict.h"

namespace fs = std::filesystem;

namespace {

// Set by the console's control handler: Ctrl+C, Ctrl+Break, the window
// closed. The run stops, the registration is put back, then the process
// ends.
HANDLE g_cancel = nullptr;
HANDLE g_done = nullptr;
QualificationRegistration* g_registration = nullptr;

BOOL WINAPI OnControl(DWORD) {
  SetEvent(g_cancel);
  // The run puts the registration back itself; should it not get there
  // before Windows ends the process (a closed window), this thread does.
  if (WaitForSingleObject(g_done, 3000) != WAIT_OBJECT_0 && g_registration) {
    std::string said;
    g_registration->Restore(said);
  }
  return TRUE;
}

bool Cancelled() { return g_cancel && WaitForSingleObject(g_cancel, 0) == WAIT_OBJECT_0; }

void Say(const std::string& line) { WriteLine(OutputStream::kOut, line); }
int Refuse(const std::string& why, int status = 1) {
  WriteLine(OutputStream::kErr, "k27kit: " + why);
  return status;
}

// The folder and the ones above it, at any length.
bool MakeFolders(const std::wstring& full) {
  for (size_t at = full.find(L'\\', 3); ; at = full.find(L'\\', at + 1)) {
    const std::wstring part = ExtendedLengthPath(full.substr(0, at));
    if (!CreateDirectoryW(part.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return false;
    if (at == std::wstring::npos) return true;
  }
}

// The names of the folder's files that end in `suffix`, in name order.
std::vector<std::wstring> FilesIn(const std::wstring& folder, const std::wstring& suffix, bool& readable) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(ExtendedLengthPath(folder + L"\\*").c_str(), &found);
  readable = search != INVALID_HANDLE_VALUE;
  if (!readable) return names;
  do {
    const std::wstring name = found.cFileName;
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && name.size() > suffix.size() &&
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
      names.push_back(name);
  } while (FindNextFileW(search, &found));
  FindClose(search);
  std::sort(names.begin(), names.end());
  return names;
}

// What a scenario left, kept: every file of its folder but the damaged
// copy of the program.
void Keep(const fs::path& from, const std::wstring& to) {
  bool readable = false;
  if (!MakeFolders(to)) return;
  for (const std::wstring& name : FilesIn(from.wstring(), L"", readable)) {
    if (name == L"k27prog.exe") continue;
    CopyFileW((from / fs::path(name)).c_str(), ExtendedLengthPath(to + L"\\" + name).c_str(), FALSE);
  }
}

// A catalogue file's name without the number that orders it: "10-image"
// holds the group "image".
std::string GroupName(const std::string& stem) {
  size_t digits = 0;
  while (digits < stem.size() && std::isdigit(static_cast<unsigned char>(stem[digits]))) ++digits;
  return digits > 0 && digits + 1 < stem.size() && stem[digits] == '-' ? stem.substr(digits + 1) : stem;
}

bool LoadCatalogues(const std::vector<std::wstring>& folders, std::vector<Scenario>& scenarios, std::string& error) {
  for (const std::wstring& folder : folders) {
    bool readable = false;
    const std::vector<std::wstring> files = FilesIn(folder, L".json", readable);
    if (!readable) return Reject(error, Utf8(folder) + ": cannot be read as a catalogue folder");
    if (files.empty()) return Reject(error, Utf8(folder) + ": no catalogue file (*.json) in it");
    for (const std::wstring& file : files) {
      std::vector<uint8_t> bytes;
      if (!ReadFileBytes(fs::path(folder + L"\\" + file), bytes, error)) return false;
      const std::string stem = Utf8(file.substr(0, file.size() - 5));
      if (!ParseCatalogue(std::string(bytes.begin(), bytes.end()), GroupName(stem), scenarios, error))
        return Reject(error, Utf8(folder) + "\\" + error);
    }
  }
  return CheckScenarios(scenarios, error);
}

std::string Utc(time_t t) {
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", std::gmtime(&t));
  return text;
}

bool WriteText(const fs::path& path, const std::string& text, std::string& error) {
  return WriteFileBytes(path, std::vector<uint8_t>(text.begin(), text.end()), error);
}

// Every server process the run started has written its last line: its
// Exit, or the line of the call inside which it ended itself.
bool ServersEnded(const std::vector<nlohmann::json>& journal) {
  size_t started = 0, ended = 0;
  for (const nlohmann::json& line : journal) {
    started += line.value("op", "") == "Start";
    ended += line.value("op", "") == "Exit" || line.value("crash", false);
  }
  return ended >= started;
}

struct Qualification {
  std::wstring program;
  std::wstring played;  // the program as it is started: itself, or a copy at a shorter path
  CarriedImage image;
  QualificationRegistration* registration = nullptr;
  fs::path work;
};

// Waits (in steps of 100 ms) until every server process the journal names
// has written its last line, and reads the journal then.
constexpr int kServerEndWaits = 30;
// A shared bench's server waits a while for another run before it ends.
constexpr int kSharedServerEndWaits = 150;
std::vector<nlohmann::json> AfterTheServers(const fs::path& journal, int waits) {
  std::vector<nlohmann::json> lines = ReadJournalLines(journal);
  for (int i = 0; i < waits && !ServersEnded(lines); ++i) {
    Sleep(100);
    lines = ReadJournalLines(journal);
  }
  return lines;
}

std::string FileText(const fs::path& path) {
  std::vector<uint8_t> bytes;
  std::string ignored;
  ReadFileBytes(path, bytes, ignored);
  return std::string(bytes.begin(), bytes.end());
}

std::function<bool(const std::string&, std::vector<uint8_t>&)> ArrayReader(const fs::path& folder) {
  return [folder](const std::string& name, std::vector<uint8_t>& out) {
    std::string ignored_error;
    return name.find_first_of("\\/") == std::string::npos &&
           ReadFileBytes(folder / fs::path(Wide(name)), out, ignored_error);
  };
}

// Several runs against one shared bench: each group of runs started
// together once the runs before have ended and the simulator has seen them
// end; each run's own lines picked from the one journal by its client; the
// devices' state read from the state file once the server has ended.
ScenarioResult PlayShared(const Scenario& scenario, const Qualification& q, const std::wstring& program,
                          const fs::path& bench_path, const fs::path& journal, ScenarioResult& result) {
  const fs::path folder = journal.parent_path();
  const fs::path state = fs::path(StatePathBesideJournal(journal.wstring()));
  const std::vector<const ScenarioRun*> planned = RunsOf(scenario);
  std::error_code ignored;
  std::string error;
  auto fail = [&](const std::string& why) {
    result.differences.push_back(why);
    return result;
  };
  std::vector<RunRecord> runs;
  std::vector<fs::path> outputs;
  const ULONGLONG began = GetTickCount64();
  for (int attempt = 0; attempt < 2; ++attempt) {
    for (const fs::path& old : {journal, state, fs::path(state.wstring() + L".tmp")}) fs::remove(old, ignored);
    if (!q.registration->Point(bench_path.wstring(), journal.wstring(), error)) return fail(error);
    runs.assign(planned.size(), RunRecord());
    outputs.clear();
    std::vector<uint32_t> pids;
    for (size_t first = 0; first < planned.size();) {
      size_t end = first + 1;
      while (end < planned.size() && planned[end]->together) ++end;
      // "After": the server has seen the runs before end (their groups freed).
      for (int i = 0; i < 100 && !RunsOver(ReadJournalLines(journal), pids); ++i) Sleep(100);
      std::vector<StartedChild> children;
      for (size_t i = first; i < end; ++i) {
        outputs.push_back(folder / fs::path(planned.size() == 1 ? L"transcript.txt"
                                                               : L"transcript-" + std::to_wstring(i + 1) + L".txt"));
        runs[i].started = static_cast<int64_t>(std::time(nullptr));
        children.push_back(StartProgram(program, folder.wstring(), planned[i]->typed, outputs[i].wstring(), true));
        if (!children.back().run.started) {
          for (StartedChild& started : children) {
            if (started.process) TerminateProcess(started.process, 1);
            if (started.process) AwaitProgram(started, 5, nullptr);
          }
          return fail("the program could not be started: " + children.back().run.error);
        }
      }
      for (StartedChild& child : children) ResumeProgram(child);
      for (size_t i = first; i < end; ++i) {
        const std::string stop_at = planned[i]->stop_at;
        const fs::path output = outputs[i];
        std::function<bool()> stop_now;
        if (!stop_at.empty()) stop_now = [&]() { return FileText(output).find(stop_at) != std::string::npos; };
        const ChildRun child = AwaitProgram(children[i - first], scenario.timeout_s, g_cancel, stop_now);
        if (child.cancelled) return fail("interrupted");
        RunRecord& run = runs[i];
        run.ended = static_cast<int64_t>(std::time(nullptr));
        run.timed_out = child.timed_out;
        run.stopped = child.stopped;
        run.stopped_ms = child.stopped_ms;
        run.exit_status = child.exit_code;
        run.output = FileText(output);
        pids.push_back(child.pid);
      }
      first = end;
    }
    const std::vector<nlohmann::json> lines = AfterTheServers(journal, kSharedServerEndWaits);
    for (size_t i = 0; i < runs.size(); ++i) {
      runs[i].journal = LinesOfRun(lines, pids[i]);
      runs[i].read_array = ArrayReader(folder);
    }
    bool expects_calls = false;
    for (const ScenarioRun* planned_run : planned) expects_calls = expects_calls || !planned_run->calls.empty();
    const bool timed_out = std::any_of(runs.begin(), runs.end(), [](const RunRecord& r) { return r.timed_out; });
    if (!lines.empty() || !expects_calls || timed_out) break;
    if (attempt == 0) result.note = "played twice: the bench simulator did not start the first time";
  }
  result.seconds = static_cast<double>(GetTickCount64() - began) / 1000.0;
  for (size_t i = 0; i < runs.size(); ++i) {
    result.transcript += planned.size() == 1 ? runs[i].output : "--- run " + std::to_string(i + 1) + " ---\n" + runs[i].output;
  }
  const nlohmann::json state_read = nlohmann::json::parse(FileText(state), nullptr, false);
  result.differences =
      FindScenarioDifferences(scenario, runs, state_read.is_discarded() ? nlohmann::json() : state_read, q.image);
  result.kind = result.differences.empty() ? ResultKind::kPassed : ResultKind::kFailed;
  if (program != q.played) fs::remove(fs::path(program), ignored);
  return result;
}

ScenarioResult Play(const Scenario& scenario, const Qualification& q) {
  ScenarioResult result;
  result.scenario = &scenario;
  if (!Applies(scenario, q.image.values, result.why_not)) {
    result.kind = ResultKind::kNotApplicable;
    return result;
  }
  result.kind = ResultKind::kFailed;
  const fs::path folder = q.work / fs::path(Wide(scenario.name));
  std::error_code ignored;
  fs::remove_all(folder, ignored);
  fs::create_directories(folder, ignored);
  std::string error;
  auto fail = [&](const std::string& why) {
    result.differences.push_back(why);
    return result;
  };

  nlohmann::json bench;
  if (!ExpandJson(scenario.bench, q.image.values, bench, error)) return fail("the scenario's bench is wrong: " + error);
  const fs::path bench_path = folder / "bench.json";
  if (!WriteText(bench_path, bench.dump(2) + "\n", error)) return fail(error);
  const BenchVerdict verdict = CheckBenchFile(bench_path.wstring());
  if (!verdict.ok) return fail("the scenario's bench is refused: " + verdict.line);

  std::wstring program = q.played;
  if (!scenario.image.is_null()) {
    std::optional<std::vector<uint8_t>> resource;
    if (!MakeImageResource(scenario.image, q.image.code, q.image.values, resource, error))
      return fail("the scenario's image is wrong: " + error);
    const fs::path copy = folder / "k27prog.exe";
    if (!WriteWithImageResource(q.played, resource ? &*resource : nullptr, copy, error))
      return fail("cannot make the damaged program: " + error);
    program = copy.wstring();
  }
  const fs::path journal = folder / "journal.jsonl";
  if (bench.value("shared", false) == true) return PlayShared(scenario, q, program, bench_path, journal, result);
  const fs::path output = folder / "transcript.txt";
  RunRecord run;
  ChildRun child;
  // A run that did not meet its bench (MetTheBench) is played once more.
  for (int attempt = 0; attempt < 2; ++attempt) {
    fs::remove(journal, ignored);
    if (!q.registration->Point(bench_path.wstring(), journal.wstring(), error)) return fail(error);
    run = RunRecord();
    run.started = static_cast<int64_t>(std::time(nullptr));
    child = RunProgram(program, folder.wstring(), scenario.typed, output.wstring(), scenario.timeout_s, g_cancel);
    run.ended = static_cast<int64_t>(std::time(nullptr));
    if (!child.started) return fail("the program could not be started: " + child.error);
    if (child.cancelled) return fail("interrupted");
    run.timed_out = child.timed_out;
    run.stopped_ms = child.stopped_ms;
    run.exit_status = child.exit_code;
    run.output = FileText(output);
    // The server ends once the tool has let go of it; its last lines follow.
    run.journal = AfterTheServers(journal, kServerEndWaits);
    if (MetTheBench(scenario, run)) break;
    if (attempt == 0) result.note = "played twice: the bench simulator did not start the first time";
  }
  result.seconds = child.seconds;
  result.transcript = run.output;
  run.read_array = ArrayReader(folder);
  result.differences = FindDifferences(scenario, run, q.image);
  result.kind = result.differences.empty() ? ResultKind::kPassed : ResultKind::kFailed;
  if (program != q.played) fs::remove(fs::path(program), ignored);
  return result;
}

// What a scenario's runs end with: "PROGRAMMING SUCCESSFUL + COULD NOT
// ...", a run stopped from outside by the text it is stopped at.
std::string Outcomes(const Scenario& s) {
  std::string text;
  for (const ScenarioRun* run : RunsOf(s)) {
    if (!text.empty()) text += " + ";
    text += run->stop_at.empty() ? run->outcome : "stopped at \"" + run->stop_at + "\"";
  }
  return text;
}

int List(const std::vector<Scenario>& scenarios, const CarriedImage* image) {
  for (const Scenario& s : scenarios) {
    std::string why;
    const bool applies = !image || Applies(s, image->values, why);
    Say(s.group + "/" + s.name + ": " + Outcomes(s) + (applies ? "" : " (not applicable: " + why + ")") +
        (s.about.empty() ? "" : " - " + s.about));
  }
  Say(std::to_string(scenarios.size()) + " scenarios");
  return 0;
}

}  // namespace

int RunQualify(const KitCommand& command) {
  const std::wstring kit = Folder(ThisProgram());
  std::vector<std::wstring> folders = {kit + L"\\catalogue"};
  for (const std::wstring& extra : command.catalogues) folders.push_back(FullPath(extra));
  std::vector<Scenario> scenarios;
  std::string error;
  if (!LoadCatalogues(folders, scenarios, error)) return Refuse("the catalogue cannot be played: " + error, 2);

  // The scenarios chosen, in the catalogue's order.
  for (const std::wstring& name : command.only) {
    if (std::none_of(scenarios.begin(), scenarios.end(), [&](const Scenario& s) { return Wide(s.name) == name; }))
      return Refuse("no scenario is called " + Utf8(name) + " (k27kit qualify --list)", 2);
  }
  std::vector<const Scenario*> chosen;
  for (const Scenario& s : scenarios) {
    if (command.only.empty() || std::count(command.only.begin(), command.only.end(), Wide(s.name)))
      chosen.push_back(&s);
  }

  Qualification q;
  std::vector<uint8_t> program_bytes;
  if (!command.program.empty()) {
    q.program = FullPath(command.program);
    q.played = q.program;
    if (!ReadFileBytes(q.program, program_bytes, error)) return Refuse(error);
    if (!ReadCarriedImage(program_bytes, q.image, error)) return Refuse(Utf8(q.program) + ": " + error);
  }
  if (command.list) {
    std::vector<Scenario> listed;
    for (const Scenario* s : chosen) listed.push_back(*s);
    return List(listed, command.program.empty() ? nullptr : &q.image);
  }

  const std::wstring simulator = kit + L"\\" + kServerFileName;
  const std::wstring proxy = kit + L"\\" + kProxyFileName;
  for (const std::wstring& needed : {simulator, proxy}) {
    if (GetFileAttributesW(needed.c_str()) == INVALID_FILE_ATTRIBUTES)
      return Refuse(Utf8(needed) + " is missing: k27kit.exe, k27sim.exe and k27ps.dll sit together");
  }
  const std::string sha256 = Sha256Hex(program_bytes.data(), program_bytes.size());
  const std::string release = q.image.values["release"].text;
  Say("k27kit: qualifying " + Utf8(q.program) + " (firmware release " + release + ", SHA-256 " + sha256 + ")");

  // A work folder of its own under the user's temporary folder, removed at
  // the end: short, so that the registration's command line and the damaged
  // copies of the program stay within what Windows starts. What --keep
  // asks for is copied out of it after each scenario.
  std::error_code fs_error;
  q.work = fs::temp_directory_path(fs_error) /
           fs::path(L"k27kit-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(GetTickCount64()));
  fs::create_directories(q.work, fs_error);
  if (!fs::is_directory(q.work)) return Refuse("cannot make the work folder " + PathText(q.work));
  struct RemovedAtTheEnd {
    fs::path folder;
    ~RemovedAtTheEnd() {
      // A simulator still ending may hold its folder a moment longer (under
      // Wine a server COM starts works in its client's folder).
      for (int i = 0; i < 30; ++i) {
        std::error_code failed;
        fs::remove_all(folder, failed);
        if (!fs::exists(folder, failed)) return;
        Sleep(100);
      }
    }
  } work_folder{q.work};
  const std::wstring keep = command.keep.empty() ? std::wstring() : FullPath(command.keep);
  if (!keep.empty() && !MakeFolders(keep)) return Refuse("cannot make the folder " + Utf8(keep));

  // Windows starts no program from a path of 259 characters or more: such a
  // program is played from a copy, byte for byte, in the work folder.
  if (q.program.size() >= 259) {
    const fs::path copy = q.work / "k27prog.exe";
    if (!WriteFileBytes(copy, program_bytes, error)) return Refuse(error);
    q.played = copy.wstring();
    Say("k27kit: its path is too long for Windows to start it from: played from a copy of the same bytes, " +
        PathText(copy));
  }
  // Registered as COM starts it (under Wine by the short form of a long path).
  std::string refusal;
  const std::wstring registered_simulator = RegistrablePath(simulator, refusal);
  const std::wstring registered_proxy = registered_simulator.empty() ? L"" : RegistrablePath(proxy, refusal);
  if (registered_simulator.empty() || registered_proxy.empty()) return Refuse("not qualifying: " + refusal);
  QualificationRegistration registration(registered_simulator, registered_proxy);
  q.registration = &registration;
  if (!registration.Prepare(error)) return Refuse("not qualifying on this PC: " + error);
  g_cancel = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  g_done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  g_registration = &registration;
  SetConsoleCtrlHandler(OnControl, TRUE);

  std::string said;
  const ULONGLONG began = GetTickCount64();
  const time_t began_at = std::time(nullptr);
  int status = 0;
  std::vector<ScenarioResult> results;
  if (!registration.RegisterAndProve(q.work.wstring(), said, error)) {
    Refuse(error);
    status = 1;
  } else {
    Say("k27kit: the bench simulator " + Utf8(simulator) + " is " + said);
    for (const Scenario* scenario : chosen) {
      if (Cancelled()) break;
      results.push_back(Play(*scenario, q));
      if (!keep.empty() && results.back().kind != ResultKind::kNotApplicable)
        Keep(q.work / fs::path(Wide(scenario->name)), keep + L"\\" + Wide(scenario->name));
      if (Cancelled()) {
        results.pop_back();
        break;
      }
      Say(ResultLine(results.back()));
      if (command.stop_at_first_failure && results.back().kind == ResultKind::kFailed) break;
    }
  }
  std::string restored;
  const bool put_back = registration.Restore(restored);
  if (!said.empty()) Say("k27kit: " + restored);
  if (Cancelled()) {
    SetEvent(g_done);
    Refuse("interrupted: the qualification is not complete");
    return 1;
  }
  if (status != 0) {
    SetEvent(g_done);
    return status;
  }

  const double seconds = static_cast<double>(GetTickCount64() - began) / 1000.0;
  bool complete = false;
  const std::string coverage = CoverageReport(results, complete);
  WriteText(OutputStream::kOut, coverage);
  size_t passed = 0, failed = 0, not_applicable = 0;
  for (const ScenarioResult& r : results) {
    passed += r.kind == ResultKind::kPassed;
    failed += r.kind == ResultKind::kFailed;
    not_applicable += r.kind == ResultKind::kNotApplicable;
  }
  char timing[64];
  std::snprintf(timing, sizeof timing, "%.1f s", seconds);
  Say(std::to_string(results.size()) + " scenarios: " + std::to_string(passed) + " passed, " + std::to_string(failed) +
      " failed, " + std::to_string(not_applicable) + " not applicable, in " + timing);
  const bool whole = command.only.empty() && results.size() == chosen.size();
  const bool qualified = failed == 0 && put_back && (!whole || complete);

  if (!command.junit.empty()) {
    const ReportFacts facts{Utf8(q.program), sha256, release, Utf8(registration.RootName()), Utc(began_at), seconds};
    if (!WriteText(fs::path(FullPath(command.junit)), JunitXml(results, facts), error)) {
      Refuse("cannot write the JUnit report: " + error);
      SetEvent(g_done);
      return 1;
    }
  }
  if (!keep.empty()) Say("k27kit: transcripts, benches, journals and arrays kept in " + Utf8(keep));

  if (qualified) {
    Say(std::string("QUALIFIED: ") + Utf8(q.program) + " behaves as documented in every scenario" +
        (whole ? "" : " played (only some were chosen)"));
  } else {
    Say(std::string("NOT QUALIFIED: ") + Utf8(q.program) +
        (failed ? ": " + std::to_string(failed) + " scenario(s) failed"
         : !put_back ? ": the registration could not be put back"
                     : ": not every outcome was reached"));
  }
  SetEvent(g_done);
  return qualified ? 0 : 1;
}
