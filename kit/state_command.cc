#include "state_command.h"

#include <windows.h>

#include <nlohmann/json.hpp>

#include <ctime>
#include <filesystem>
#include <vector>

#include "bench/bench.h"
#include "bench/bench_file.h"
#include "bench/bench_state.h"
#include "lib/file_bytes.h"
#include "lib/long_path.h"
#include "lib/switch_output.h"
#include "lib/wide_text.h"

using nlohmann::json;

namespace {

int Fail(const std::string& why) {
  WriteLine(OutputStream::kErr, "k27kit: " + why);
  return 1;
}

std::string WhenText(int64_t ms) {
  const time_t t = static_cast<time_t>(ms / 1000);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", std::gmtime(&t));
  return text;
}

std::string Version(const json& v) {
  return v.is_array() && v.size() == 3 ? v[0].dump() + "." + v[1].dump() + "." + v[2].dump() : "?";
}

// What the flash's state means to a person.
std::string FlashText(const json& device) {
  const std::string flash = device.value("flash", "");
  if (flash == "as_bench") return "as on the bench";
  if (flash == "erasing") return "erase started, not completed: no code";
  if (flash == "erased") return "erased: no code";
  if (flash == "erase_failed") return "erase failed: no code";
  if (flash == "programmed") return "programmed " + Version(device.value("programmed_version", json())) +
                                      ", not reset yet: no code running";
  if (flash == "program_failed") return "programming failed: no code";
  if (flash == "running") return "programmed " + Version(device.value("programmed_version", json())) + " and reset";
  return flash;
}

std::string DeviceLine(size_t index, const json& d) {
  std::string line = "device " + std::to_string(index + 1) + ": serial " + d.value("serial", json()).dump() +
                     ", state " + d.value("state", json()).dump() + ", code version " +
                     Version(d.value("code_version", json())) + ", " + FlashText(d);
  const json& last = d.value("last_change", json());
  if (last.is_object()) {
    line += "; last changed by " + last.value("op", std::string("?")) + " of the run under group " +
            last.value("group_uuid", std::string("?")) + " (client process " + last.value("client_pid", json()).dump() +
            ") at " + WhenText(last.value("ms", int64_t{0})) + ", " + d.value("changes", json()).dump() + " change(s) in all";
  }
  return line;
}

int Reset(const std::wstring& path) {
  // The lock the simulator plays the bench under: held, a server plays it
  // now and would write its memory back.
  HANDLE lock = CreateMutexW(nullptr, FALSE, SharedBenchLockName(path).c_str());
  if (!lock) return Fail("cannot take the bench's lock (error " + std::to_string(GetLastError()) + ")");
  const DWORD got = WaitForSingleObject(lock, 0);
  if (got != WAIT_OBJECT_0 && got != WAIT_ABANDONED) {
    CloseHandle(lock);
    return Fail("a simulator is playing this bench now: reset it once that server has ended (it ends a few "
                  "seconds after its last run)");
  }
  int status = 0;
  const DWORD attributes = GetFileAttributesW(PathForFileCalls(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    WriteLine(OutputStream::kOut, "k27kit: " + Utf8(path) + " does not exist: the bench is at its start already");
  } else if (!DeleteFileW(PathForFileCalls(path).c_str())) {
    status = Fail("cannot remove " + Utf8(path) + " (error " + std::to_string(GetLastError()) + ")");
  } else {
    DeleteFileW(PathForFileCalls(path + L".tmp").c_str());
    WriteLine(OutputStream::kOut, "k27kit: " + Utf8(path) +
                                      " removed: the next run finds every device as the bench file gives it");
  }
  ReleaseMutex(lock);
  CloseHandle(lock);
  return status;
}

}  // namespace

int RunState(const std::wstring& state_file, bool reset) {
  const std::wstring path = FullPath(state_file);
  if (reset) return Reset(path);
  std::vector<uint8_t> bytes;
  std::string error;
  if (!ReadFileBytes(std::filesystem::path(path), bytes, error)) return Fail(error);
  const std::string text(bytes.begin(), bytes.end());
  const json root = json::parse(text, nullptr, false);
  const std::string remedy = " (k27kit state \"" + Utf8(path) + "\" --reset puts the bench back to its start)";
  if (root.is_discarded() || !root.is_object() || !root.value("devices", json()).is_array())
    return Fail(Utf8(path) + ": not a whole state file of the simulator" + remedy);
  // Checked against the bench it names, as the simulator will check it.
  const std::string bench_name = root.value("bench", "");
  std::string bench_text, bench_error;
  std::string checked = "its bench file cannot be read to check it against";
  if (!bench_name.empty() && ReadBenchText(Wide(bench_name), bench_text, bench_error)) {
    try {
      const Bench bench = ParseBench(bench_text);
      const std::string sha = BenchSha256(bench_text);
      BenchState state;
      const StateReading reading = ParseState(text, bench, sha, state);
      if (reading.problem == StateProblem::kDamaged)
        return Fail(Utf8(path) + ": a damaged state file: " + reading.detail + remedy);
      if (reading.problem == StateProblem::kOtherBench)
        return Fail(Utf8(path) + ": the state of another bench (SHA-256 " + reading.detail + "), not of " +
                      bench_name + " as it is now (SHA-256 " + sha + "): the bench file was changed since" + remedy);
      checked = "checked against it";
    } catch (const BenchError& e) {
      checked = std::string("its bench file cannot be played: ") + e.what();
    }
  }
  WriteLine(OutputStream::kOut, "k27kit: " + Utf8(path) + ": the state of the shared bench " +
                                    (bench_name.empty() ? std::string("built in to the simulator") : bench_name) +
                                    " (" + checked + "), written " + WhenText(root.value("written_ms", int64_t{0})));
  const json& devices = root["devices"];
  for (size_t i = 0; i < devices.size(); ++i) WriteLine(OutputStream::kOut, DeviceLine(i, devices[i]));
  return 0;
}
