#ifndef K27_BENCH_BENCH_STATE_H_
#define K27_BENCH_BENCH_STATE_H_

// What a shared bench remembers of its devices from one run to the next, and
// from one simulator process to the next: how far each device's code flash
// got, what its record shows for it, and the run that changed it last. The
// state file holds it, with the bench it belongs to (docs/bench.md, "A
// shared bench"). Plain functions over the bench and texts; nothing here
// knows COM or files.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bench/bench.h"

// How far a device's code flash got, in the order a run takes it.
enum class Flash {
  kAsBench,        // never touched: the record is the bench's
  kErasing,        // an erase was started and has not completed
  kErased,         // erased
  kEraseFailed,    // an erase was started and failed
  kProgrammed,     // programmed, not yet reset
  kProgramFailed,  // programming was started and failed
  kRunning,        // programmed, and a reset accepted: runs the code programmed
};
const char* FlashName(Flash flash);

// What the record of a device shows once its code is gone (erased, failed
// half-way, or programmed and not reset yet), and once it runs code that a
// run programmed.
constexpr uint16_t kNoCodeState = 1000;
constexpr uint16_t kRunningState = 1200;

// The run that changed a device last.
struct DeviceChange {
  std::string op;          // the call that changed it
  uint32_t session = 0;    // the run's number in its server process
  uint32_t client_pid = 0;  // 0 when the platform could not tell
  std::string group_uuid;  // the UUID the run acquired the group under
  int64_t ms = 0;          // when, in milliseconds since 1970 (UTC)
};

struct DeviceMemory {
  Flash flash = Flash::kAsBench;
  // What the last successful programming wrote: the code version from its
  // code header, and the SHA-256 of the whole block.
  uint16_t programmed_version[3] = {0, 0, 0};
  std::string programmed_sha256;
  uint32_t changes = 0;  // how many calls changed it, over every run
  std::optional<DeviceChange> last;
};

struct BenchState {
  std::string bench_sha256;  // of the bench's text, as UTF-8
  std::vector<DeviceMemory> devices;  // in the bench's order
};

// What names a bench in its state file: the SHA-256 of its text, as UTF-8
// (so the same bench saved in another encoding is still the same).
std::string BenchSha256(std::string_view utf8_text);

// The bench as it starts: every device as the bench file gives it.
BenchState FreshState(const Bench& bench, const std::string& bench_sha256);

// The device as its record shows it now.
BenchDevice RememberedDevice(const BenchDevice& device, const DeviceMemory& memory);

// What each answer of the device does to its memory; each says whether it
// changed anything. Called with the status word the device answered after
// its own order checks passed (a call refused for its order changes
// nothing); `code` is the block handed to Program.
bool AfterEraseStart(DeviceMemory& memory, uint16_t status);
bool AfterErasePoll(DeviceMemory& memory, uint16_t status);
bool AfterProgram(DeviceMemory& memory, uint16_t status, const std::vector<uint8_t>& code);
bool AfterReset(DeviceMemory& memory, uint16_t status);

// The state file's text: the format, the bench it belongs to, and per device
// what its record shows, how far its flash got and who changed it last.
constexpr int kStateFormat = 1;
std::string StateText(const BenchState& state, const Bench& bench, const std::string& bench_name, int64_t written_ms);

enum class StateProblem { kNone, kDamaged, kOtherBench };
struct StateReading {
  StateProblem problem = StateProblem::kNone;
  std::string detail;  // what is damaged, or the other bench's SHA-256
};
// Reads a state file's text for the bench: refused whole when it is not one
// (damaged, cut short, of another format) or belongs to another bench.
StateReading ParseState(std::string_view text, const Bench& bench, const std::string& bench_sha256, BenchState& state);

// The state file of a bench journaled to `journal`: the journal's name with
// its extension replaced ("C:\runs\journal.jsonl" -> "C:\runs\journal.state.json").
std::wstring StatePathBesideJournal(const std::wstring& journal);

// The name of the lock that lets one simulator process at a time play a
// shared bench: made from the state file's full path (or, where the bench
// has none, the bench file's), whatever its letters' case.
std::wstring SharedBenchLockName(const std::wstring& full_path);

#endif  // K27_BENCH_BENCH_STATE_H_
