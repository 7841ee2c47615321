#ifndef K27_KIT_RUN_RECORD_H_
#define K27_KIT_RUN_RECORD_H_

// The station's record file (docs/station.md): two JSON lines per run, one
// written when the run starts and one when it has ended, each a whole line
// on disk before the station goes on. Writing the lines and reading a file
// back, with its damaged lines reported and skipped.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The format's version: a reader refuses lines of a later one.
constexpr int kRecordVersion = 1;

// What a record says of one run. The start line holds the facts up to
// `start`; the end line repeats them and adds the rest, so that each line
// can be read alone.
struct RunFacts {
  std::string session;  // the station's run that started it: a UUID
  int64_t run = 0;      // its number in the session, from 1
  std::string pc, user;
  std::string tool, tool_sha256, tool_release;  // the program, its SHA-256, the release it carries
  std::string typed;                            // the line as typed or scanned
  std::string start;                            // ISO 8601, UTC, milliseconds
  // The end line's.
  std::string end;
  std::optional<int64_t> pid;     // the tool's process
  std::optional<int64_t> status;  // its exit status; none when it never ran
  std::string release;            // from the release line of the transcript
  std::string device;             // the listing line of the device the serial picked
  std::string outcome;
  bool recognised = false;
  std::optional<double> erase_seconds, program_seconds;
  std::string transcript;
  std::string error;  // why the program could not be started
};

// The outcome of a run whose program could not be started.
extern const char kNotStarted[];

// ms since 1970 as "2025-01-31T23:59:59.123Z".
std::string UtcText(int64_t ms_since_1970);

// Each one line of JSON, with its line end.
std::string StartLine(const RunFacts& facts);
std::string EndLine(const RunFacts& facts);

struct RecordedRun {
  RunFacts facts;  // the end line's when there is one, else the start line's
  bool started = false, ended = false;
  size_t line = 0;  // of its first line, from 1
};

struct DamagedLine {
  size_t line = 0;  // from 1
  std::string why;
};

struct RecordFileReading {
  std::vector<RecordedRun> runs;  // in the order of their first lines
  std::vector<DamagedLine> damaged;
  bool torn_end = false;  // the file ends inside a line: a write was cut short
  bool foreign = false;   // the file has lines and none is a record's
};

RecordFileReading ReadRecordFile(std::string_view text);

// The SHA-256 a release kit's MANIFEST.txt gives for the file `name`
// (compared as Windows compares file names, ASCII case ignored), in lower
// case; empty when it names no such file.
std::string ManifestSha256(std::string_view manifest, std::string_view name);

#endif  // K27_KIT_RUN_RECORD_H_
