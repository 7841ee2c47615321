#include "station_command.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "carried_image.h"
#include "lib/child_run.h"
#include "lib/com_text.h"
#include "lib/file_bytes.h"
#include "lib/long_path.h"
#include "lib/reject.h"
#include "lib/sha256.h"
#include "lib/switch_output.h"
#include "lib/wide_text.h"
#include "record_file.h"
#include "run_record.h"
#include "station_input.h"
#include "station_screen.h"
#include "transcript_reading.h"

namespace {

// Set by the console's control handler, read by the station's loop.
HANDLE g_wake = nullptr;
std::atomic<int> g_interrupts{0};

BOOL WINAPI OnStationControl(DWORD event) {
  // Closing the window, logging off, shutting down: the station ends as
  // Windows ends it; its runs have no console and go on.
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  ++g_interrupts;
  SetEvent(g_wake);
  return TRUE;
}

int RefuseToStart(const std::string& why) {
  WriteLine(OutputStream::kErr, "k27kit station: " + why);
  return 1;
}

// A typed line as the station's own lines show it: without the blanks
// around it, control characters as "?".
std::string Shown(const std::string& typed) {
  const size_t first = typed.find_first_not_of(" \t");
  std::string shown = first == std::string::npos ? std::string() : typed.substr(first);
  while (!shown.empty() && (shown.back() == ' ' || shown.back() == '\t')) shown.pop_back();
  for (char& c : shown) {
    if (static_cast<unsigned char>(c) < 0x20) c = '?';
  }
  return shown;
}

// Two lines name one device when the tool reads one serial number from
// both ("42" and "0042"); lines that hold no number, when they are the same.
std::string SameDeviceKey(const std::string& typed) {
  const std::optional<int32_t> serial = SerialNumberOf(typed);
  return serial ? "#" + std::to_string(*serial) : Shown(typed);
}

std::string Seconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", seconds);
  return text;
}

std::string ComputerName() {
  wchar_t name[256];
  DWORD size = 256;
  if (GetComputerNameExW(ComputerNameDnsHostname, name, &size)) return Utf8(std::wstring(name, size));
  size = 256;
  return GetComputerNameW(name, &size) ? Utf8(std::wstring(name, size)) : std::string();
}

std::string UserName() {
  wchar_t name[257];
  DWORD size = 257;
  return GetUserNameW(name, &size) && size > 0 ? Utf8(std::wstring(name, size - 1)) : std::string();
}

std::string NewSession() {
  UUID id;
  UuidCreate(&id);
  return GuidText(id);
}

struct Run {
  RunFacts facts;
  ULONGLONG began = 0;
  std::thread thread;
  // Under Station::lock, written by the run's thread.
  RunStage stage = RunStage::kListing;
  bool ended = false;
  std::string record_error;  // its end line could not be written
};

// The lines read from standard input, handed from the reader's thread to
// the station's. The reader may outlive the station, waiting on a console
// or a pipe that nobody writes into any more: it holds its own share.
struct Inbox {
  std::mutex lock;
  std::deque<std::string> lines;
  bool ended = false;
};

struct Station {
  std::wstring program;
  std::wstring record_path;
  RunFacts common;  // what every run's record holds of the station
  RecordFile record;
  size_t parallel = 1;
  StationScreen screen;
  HANDLE console_in = nullptr;  // the operator types here, key by key; else lines come from the reader

  std::mutex lock;
  std::vector<std::unique_ptr<Run>> running;

  // The loop's own.
  std::deque<std::string> waiting;
  std::vector<std::string> busy;  // typed lines whose last run found the group held
  std::wstring typing;            // on a console: the line being typed
  int64_t next_run = 1;
  bool stopping = false, typed_to_the_end = false;
  int interrupts_seen = 0;
  size_t ended = 0, succeeded = 0, dropped = 0;
  // Each device's last run: whether it succeeded, and how it was typed, in
  // the order devices first came.
  std::vector<std::pair<std::string, std::string>> devices;  // key, as typed
  std::set<std::string> failed;                              // keys

  bool record_failed = false;
};

// One run, on a thread of its own: the program started, the serial typed
// at its prompt, its transcript read as it comes, its end recorded.
void PlayRun(Station& station, Run& run) {
  RunFacts& f = run.facts;
  std::string transcript;
  PipedChild child = StartPiped(station.program);
  if (!child.started) {
    f.outcome = kNotStarted;
    f.error = child.error;
  } else {
    f.pid = child.pid;
    bool answered = false;
    for (;;) {
      const bool exited = WaitForSingleObject(child.process, 5) == WAIT_OBJECT_0;
      if (ReadAvailable(child.output, transcript)) {
        std::lock_guard<std::mutex> held(station.lock);
        run.stage = StageOf(transcript);
      }
      if (!answered && AsksForSerial(transcript)) {
        // The line as typed, then the end of input: nothing more is read.
        const std::string line = f.typed + "\r\n";
        DWORD wrote = 0;
        WriteFile(child.input, line.data(), static_cast<DWORD>(line.size()), &wrote, nullptr);
        CloseHandle(child.input);
        child.input = nullptr;
        answered = true;
      }
      // A program that has ended has written all it wrote: what is in the
      // pipe now is the rest. (A server it started may hold the pipe open,
      // so its end is not awaited.)
      if (exited) {
        ReadAvailable(child.output, transcript);
        break;
      }
    }
    if (child.input) CloseHandle(child.input);
    DWORD code = 0;
    GetExitCodeProcess(child.process, &code);
    CloseHandle(child.process);
    CloseHandle(child.output);
    const TranscriptReading reading = ReadTranscript(transcript, f.typed, code);
    f.status = code;
    f.release = reading.release;
    f.device = reading.device_line;
    f.outcome = reading.outcome;
    f.recognised = reading.recognised;
    f.erase_seconds = reading.erase_seconds;
    f.program_seconds = reading.program_seconds;
  }
  f.end = UtcText(UtcNowMs());
  f.transcript = transcript;
  std::string error;
  const bool written = station.record.Append(EndLine(f), error);
  std::lock_guard<std::mutex> held(station.lock);
  if (!written) run.record_error = error.empty() ? "not written" : error;
  run.ended = true;
  SetEvent(g_wake);
}

bool Running(const Station& s, const std::string& key) {
  return std::any_of(s.running.begin(), s.running.end(),
                     [&](const std::unique_ptr<Run>& r) { return SameDeviceKey(r->facts.typed) == key; });
}

bool Waiting(const Station& s, const std::string& key) {
  return std::any_of(s.waiting.begin(), s.waiting.end(), [&](const std::string& t) { return SameDeviceKey(t) == key; });
}

void Requeue(Station& s) {
  std::string queued;
  for (const std::string& typed : s.busy) {
    const std::string key = SameDeviceKey(typed);
    if (Running(s, key) || Waiting(s, key)) continue;
    s.waiting.push_back(typed);
    queued += (queued.empty() ? "" : ", ") + Shown(typed);
  }
  s.busy.clear();
  s.screen.Note(queued.empty() ? "retry: no device is waiting for its group" : "retry: queued again: " + queued);
}

// A line typed or scanned.
void Take(Station& s, const std::string& typed) {
  if (s.typed_to_the_end) return;
  if (!typed.empty() && typed[0] == '\x1A') {
    // Ctrl+Z: the end of the serials, as at the end of a file.
    s.typed_to_the_end = true;
    s.screen.Note("Ctrl+Z: no more serials; the station ends once the runs waiting and running have ended");
    return;
  }
  const std::string shown = Shown(typed);
  if (shown.empty()) return;
  if (_stricmp(shown.c_str(), "retry") == 0) return Requeue(s);
  const std::string key = SameDeviceKey(typed);
  if (s.stopping) {
    s.screen.Note(shown + ": not started: the station is ending (Ctrl+C)");
    ++s.dropped;
  } else if (Running(s, key)) {
    s.screen.Note(shown + ": refused: that device is being programmed now");
  } else if (Waiting(s, key)) {
    s.screen.Note(shown + ": refused: that device is waiting already");
  } else {
    s.waiting.push_back(typed);
    s.busy.erase(std::remove_if(s.busy.begin(), s.busy.end(), [&](const std::string& t) { return SameDeviceKey(t) == key; }),
                 s.busy.end());
  }
}

void StartRuns(Station& s) {
  while (!s.stopping && !s.waiting.empty() && s.running.size() < s.parallel) {
    auto run = std::make_unique<Run>();
    run->facts = s.common;
    run->facts.run = s.next_run;
    run->facts.typed = s.waiting.front();
    run->facts.start = UtcText(UtcNowMs());
    run->began = GetTickCount64();
    // The start is on disk before the program is.
    std::string error;
    if (!s.record.Append(StartLine(run->facts), error)) {
      s.screen.Note("k27kit station: the record cannot be written, so no run starts: " + error);
      s.stopping = s.record_failed = true;
      return;
    }
    ++s.next_run;
    s.waiting.pop_front();
    s.screen.Note(Shown(run->facts.typed) + ": started");
    Run& started = *run;
    {
      std::lock_guard<std::mutex> held(s.lock);
      s.running.push_back(std::move(run));
    }
    started.thread = std::thread(PlayRun, std::ref(s), std::ref(started));
  }
}

void Report(Station& s, Run& run) {
  const RunFacts& f = run.facts;
  const std::string shown = Shown(f.typed);
  const double seconds = static_cast<double>(GetTickCount64() - run.began) / 1000.0;
  ++s.ended;
  const std::string key = SameDeviceKey(f.typed);
  if (std::none_of(s.devices.begin(), s.devices.end(), [&](const auto& d) { return d.first == key; }))
    s.devices.emplace_back(key, shown);
  if (f.recognised && f.outcome == kSuccessOutcome) {
    s.failed.erase(key);
  } else {
    s.failed.insert(key);
  }
  if (f.outcome == kNotStarted) {
    s.screen.Note(shown + ": not started: " + f.error);
  } else if (!f.recognised) {
    s.screen.Note(shown + ": " + kNotRecognised + " (exit status " + std::to_string(f.status.value_or(0)) +
                  "): its whole transcript is in the record");
  } else if (f.outcome == kBusyOutcome) {
    s.busy.push_back(f.typed);
    s.screen.Note(shown + ": busy: " + f.outcome + " (another run holds its group): type " + shown +
                  " again, or retry, to queue it again");
  } else {
    std::string times;
    if (f.erase_seconds) times += "erase " + Seconds(*f.erase_seconds) + ", ";
    if (f.program_seconds) times += "program " + Seconds(*f.program_seconds) + ", ";
    s.screen.Note(shown + ": " + f.outcome + " (" + times + Seconds(seconds) + " in all)");
    s.succeeded += f.outcome == kSuccessOutcome;
  }
  if (!run.record_error.empty()) {
    s.screen.Note("k27kit station: the end of " + shown + "'s run could not be written to the record (" +
                  run.record_error + "): no more runs start");
    s.stopping = s.record_failed = true;
  }
}

std::string StillRunning(Station& s) {
  std::string list;
  std::lock_guard<std::mutex> held(s.lock);
  for (const std::unique_ptr<Run>& r : s.running) {
    list += (list.empty() ? "" : ", ") + Shown(r->facts.typed) + " (" + StageName(r->stage) + ", " +
            Seconds(static_cast<double>(GetTickCount64() - r->began) / 1000.0) + ")";
  }
  return list;
}

void Interrupted(Station& s) {
  const int now = g_interrupts.load();
  if (now == s.interrupts_seen) return;
  const bool first = s.interrupts_seen == 0;
  s.interrupts_seen = now;
  const std::string running = StillRunning(s);
  if (first) {
    s.stopping = true;
    std::string dropped;
    for (const std::string& t : s.waiting) dropped += (dropped.empty() ? "" : ", ") + Shown(t);
    s.dropped += s.waiting.size();
    s.waiting.clear();
    s.screen.Note("Ctrl+C: no new run starts" +
                  (running.empty() ? std::string() : "; the runs in progress go on to their end and are recorded") +
                  (dropped.empty() ? std::string() : "; not started: " + dropped));
  } else if (!running.empty()) {
    s.screen.Note("still running, and waited for: " + running);
  }
}

// On a console: the keys typed since the last look.
void ReadKeys(Station& s) {
  DWORD count = 0;
  while (GetNumberOfConsoleInputEvents(s.console_in, &count) && count > 0) {
    INPUT_RECORD records[64];
    DWORD got = 0;
    if (!ReadConsoleInputW(s.console_in, records, 64, &got) || got == 0) return;
    for (DWORD i = 0; i < got; ++i) {
      if (records[i].EventType != KEY_EVENT || !records[i].Event.KeyEvent.bKeyDown) continue;
      const KEY_EVENT_RECORD& key = records[i].Event.KeyEvent;
      for (WORD n = 0; n < std::max<WORD>(1, key.wRepeatCount); ++n) {
        const wchar_t c = key.uChar.UnicodeChar;
        if (key.wVirtualKeyCode == VK_RETURN || c == L'\r') {
          const std::string line = Utf8(s.typing);
          s.typing.clear();
          Take(s, line);
          StartRuns(s);
        } else if (key.wVirtualKeyCode == VK_BACK || c == L'\b') {
          if (!s.typing.empty()) s.typing.pop_back();
        } else if (key.wVirtualKeyCode == VK_ESCAPE) {
          s.typing.clear();
        } else if (key.wVirtualKeyCode == VK_F5) {
          Requeue(s);
        } else if (c == 0x1A) {
          Take(s, "\x1A");
        } else if (c >= 0x20) {
          s.typing += c;
        }
      }
    }
  }
}

// Standard input from a file or a pipe, or a console whose lines are read
// as the console edits them: every line, then its end.
void ReadLines(std::shared_ptr<Inbox> inbox, HANDLE in, bool console, HANDLE wake) {
  InputLines decoder;
  auto deliver = [&](const std::vector<std::string>& lines, bool ended) {
    std::lock_guard<std::mutex> held(inbox->lock);
    inbox->lines.insert(inbox->lines.end(), lines.begin(), lines.end());
    inbox->ended = ended;
    SetEvent(wake);
  };
  for (;;) {
    if (console) {
      wchar_t buffer[1024];
      DWORD got = 0;
      if (!ReadConsoleW(in, buffer, 1024, &got, nullptr) || got == 0) break;
      deliver(decoder.Feed(Utf8(std::wstring(buffer, got))), false);
    } else {
      char buffer[4096];
      DWORD got = 0;
      if (!ReadFile(in, buffer, sizeof buffer, &got, nullptr) || got == 0) break;
      deliver(decoder.Feed(std::string_view(buffer, got)), false);
    }
  }
  deliver(decoder.Finish(), true);
}

std::vector<std::string> Block(Station& s) {
  std::vector<std::string> block;
  {
    std::lock_guard<std::mutex> held(s.lock);
    for (const std::unique_ptr<Run>& r : s.running) {
      std::string line = "  " + Shown(r->facts.typed);
      line.resize(std::max<size_t>(line.size() + 2, 14), ' ');
      line += StageName(r->stage);
      line.resize(std::max<size_t>(line.size() + 2, 24), ' ');
      line += std::to_string((GetTickCount64() - r->began) / 1000) + " s";
      block.push_back(line);
    }
  }
  if (!s.waiting.empty()) {
    std::string line = "  waiting:";
    for (const std::string& t : s.waiting) line += " " + Shown(t);
    block.push_back(line);
  }
  if (s.stopping) {
    if (!s.running.empty()) block.push_back("Ctrl+C: waiting for the runs in progress to end");
  } else if (s.console_in) {
    block.push_back("serial: " + Utf8(s.typing));
  }
  return block;
}

// The runs with no end that the record holds: each device may be erased.
void NameUnfinished(Station& s, const RecordFileReading& held) {
  std::vector<const RecordedRun*> open;
  size_t run_again = 0;
  for (size_t i = 0; i < held.runs.size(); ++i) {
    const RecordedRun& r = held.runs[i];
    if (!r.started || r.ended) continue;
    const std::string key = SameDeviceKey(r.facts.typed);
    const bool later = std::any_of(held.runs.begin() + static_cast<ptrdiff_t>(i) + 1, held.runs.end(),
                                   [&](const RecordedRun& l) { return SameDeviceKey(l.facts.typed) == key; });
    if (later) {
      ++run_again;
    } else {
      open.push_back(&r);
    }
  }
  if (open.empty() && run_again == 0) return;
  const std::string file = Utf8(s.record_path);
  s.screen.Note("k27kit station: " + std::to_string(open.size() + run_again) +
                " run(s) in the record have no end: the station recording them was ended (its window closed, "
                "the PC off) while they ran.");
  if (!open.empty()) {
    s.screen.Note("  Each of these devices may be erased or partly programmed: program it again.");
    for (const RecordedRun* r : open) {
      s.screen.Note("    " + Shown(r->facts.typed) + "  started " + r->facts.start + " on " + r->facts.pc + " by " +
                    r->facts.user + " (" + file + ":" + std::to_string(r->line) + ")");
    }
  }
  if (run_again) s.screen.Note("  " + std::to_string(run_again) + " more whose devices were run again later.");
}

// The program as the line runs it: readable, startable, and, where the
// release kit's MANIFEST.txt lies beside it, the very file it lists.
bool CheckProgram(Station& s, std::string& said, std::string& error) {
  std::vector<uint8_t> bytes;
  if (!ReadFileBytes(std::filesystem::path(s.program), bytes, error)) return false;
  if (s.program.size() >= MAX_PATH - 1)
    return Reject(error, Utf8(s.program) + ": Windows starts no program from a path of " +
                             std::to_string(MAX_PATH - 1) + " characters or more; move it to a shorter one");
  s.common.tool = Utf8(s.program);
  s.common.tool_sha256 = Sha256Hex(bytes.data(), bytes.size());
  CarriedImage image;
  std::string why;
  s.common.tool_release = ReadCarriedImage(bytes, image, why) ? image.values["release"].text : std::string();
  said = "firmware release " + (s.common.tool_release.empty() ? "unknown (" + why + ")" : s.common.tool_release) +
         ", SHA-256 " + s.common.tool_sha256;

  const std::wstring manifest = Folder(s.program) + L"\\MANIFEST.txt";
  if (GetFileAttributesW(PathForFileCalls(manifest).c_str()) == INVALID_FILE_ATTRIBUTES) {
    said += "; no MANIFEST.txt beside it, so it is not checked against a release";
    return true;
  }
  std::vector<uint8_t> listed;
  if (!ReadFileBytes(std::filesystem::path(manifest), listed, error)) return false;
  const std::wstring name = s.program.substr(s.program.find_last_of(L'\\') + 1);
  const std::string expected = ManifestSha256(std::string(listed.begin(), listed.end()), Utf8(name));
  if (expected.empty())
    return Reject(error, Utf8(manifest) + " lists no " + Utf8(name) +
                             ": run the release's own program, as it was qualified");
  if (expected != s.common.tool_sha256)
    return Reject(error, Utf8(s.program) + " is not the release's: its SHA-256 is " + s.common.tool_sha256 + ", " +
                             Utf8(manifest) + " gives " + expected + ". Use an intact copy of the release kit");
  said += ", as MANIFEST.txt beside it gives";
  return true;
}

bool OpenRecord(Station& s, std::string& error) {
  std::string held;
  if (!s.record.Open(s.record_path, held, error))
    return Reject(error, "the record " + Utf8(s.record_path) + " cannot be written: " + error);
  const RecordFileReading reading = ReadRecordFile(held);
  if (reading.foreign)
    return Reject(error, Utf8(s.record_path) + " is not a station's record (no line of it is a run's): name a new "
                                               "file, or one a station wrote");
  for (const DamagedLine& d : reading.damaged) {
    s.screen.Note("k27kit station: " + Utf8(s.record_path) + ":" + std::to_string(d.line) + " skipped: " + d.why);
  }
  // A line cut short stays as it is; the next one starts on a line of its own.
  if (!held.empty() && held.back() != '\n' && !s.record.Append("\n", error))
    return Reject(error, "the record " + Utf8(s.record_path) + " cannot be written: " + error);
  NameUnfinished(s, reading);
  return true;
}

}  // namespace

int RunStation(const KitCommand& command) {
  Station s;
  s.program = FullPath(command.program);
  s.record_path = FullPath(command.record);
  s.parallel = static_cast<size_t>(command.parallel);
  s.common.pc = ComputerName();
  s.common.user = UserName();
  s.common.session = NewSession();
  std::string said, error;
  if (!CheckProgram(s, said, error)) return RefuseToStart(error);
  s.screen.Note("k27kit station: " + Utf8(s.program));
  s.screen.Note("  " + said);
  s.screen.Note("  record: " + Utf8(s.record_path) + "; up to " + std::to_string(s.parallel) + " run(s) at a time");
  if (!OpenRecord(s, error)) return RefuseToStart(error);

  // A run gets its own pipes and nothing else of the station's: were it to
  // inherit the station's standard output, a pipe the station writes into
  // would stay open until the last run ended, after the station itself.
  for (DWORD which : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE})
    SetHandleInformation(GetStdHandle(which), HANDLE_FLAG_INHERIT, 0);
  g_wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  SetConsoleCtrlHandler(OnStationControl, TRUE);
  HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  DWORD in_mode = 0;
  const bool console_input = in != INVALID_HANDLE_VALUE && in != nullptr && GetConsoleMode(in, &in_mode);
  // Keys are read one by one where the block is drawn, so that typing and
  // the lines redrawn in place do not meet; Ctrl+C stays a signal.
  if (console_input && s.screen.live()) {
    s.console_in = in;
    SetConsoleMode(in, (in_mode & ~(ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT)) | ENABLE_PROCESSED_INPUT);
  }

  if (ChildrenEndWithThisProcess())
    s.screen.Note("  warning: this station runs in a job that ends its programs with it: closing it would cut the "
                  "runs in progress. Run it from a console window of its own");
  s.screen.Note(console_input ? "  Type or scan serial numbers, one a line. retry (or F5) queues again the devices "
                                "found busy; Ctrl+C ends: no new run starts, runs in progress finish."
                              : "  Serial numbers from standard input, one a line.");

  auto inbox = std::make_shared<Inbox>();
  if (!s.console_in) std::thread(ReadLines, inbox, in, console_input, g_wake).detach();
  for (;;) {
    HANDLE waits[2] = {g_wake, s.console_in};
    WaitForMultipleObjects(s.console_in ? 2 : 1, waits, FALSE, 250);
    if (s.console_in) ReadKeys(s);
    std::deque<std::string> lines;
    bool input_ended = false;
    {
      std::lock_guard<std::mutex> held(inbox->lock);
      lines.swap(inbox->lines);
      input_ended = inbox->ended;
    }
    for (const std::string& line : lines) {
      Take(s, line);
      StartRuns(s);
    }
    Interrupted(s);
    for (size_t i = 0; i < s.running.size();) {
      Run& run = *s.running[i];
      bool ended = false;
      {
        std::lock_guard<std::mutex> held(s.lock);
        ended = run.ended;
      }
      if (!ended) {
        ++i;
        continue;
      }
      run.thread.join();
      Report(s, run);
      std::lock_guard<std::mutex> held(s.lock);
      s.running.erase(s.running.begin() + static_cast<ptrdiff_t>(i));
    }
    StartRuns(s);
    const bool no_more = s.stopping || input_ended || s.typed_to_the_end;
    if (no_more && s.running.empty() && (s.waiting.empty() || s.stopping)) break;
    s.screen.Show(Block(s));
  }
  s.screen.Clear();
  if (s.console_in) SetConsoleMode(in, in_mode);
  s.dropped += s.waiting.size();
  s.screen.Note("k27kit station: " + std::to_string(s.ended) + " run(s): " + std::to_string(s.succeeded) + " " +
                kSuccessOutcome + ", " + std::to_string(s.ended - s.succeeded) + " not" +
                (s.dropped ? ", " + std::to_string(s.dropped) + " serial(s) not started" : std::string()) +
                "; recorded in " + Utf8(s.record_path));
  std::string failed;
  for (const auto& [key, shown] : s.devices) {
    if (s.failed.count(key)) failed += " " + shown;
  }
  if (!failed.empty()) s.screen.Note("  devices whose last run did not succeed:" + failed);
  return s.failed.empty() && s.dropped == 0 && !s.record_failed ? 0 : 1;
}
