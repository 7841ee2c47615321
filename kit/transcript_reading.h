#ifndef K27_KIT_TRANSCRIPT_READING_H_
#define K27_KIT_TRANSCRIPT_READING_H_

// What the station reads from a run's transcript: only the texts README.md
// documents (the release line, the listing's lines, the prompt, the progress
// and completion lines, the outcome table with its statuses). Anything else
// is the tool's to print and the station's to keep whole.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// How far a run in progress has got, by the progress texts shown so far.
enum class RunStage { kListing, kErase, kProgram, kReset };

const char* StageName(RunStage stage);

// The serial number the tool picks for a typed line, as README.md says it
// reads it ("%d": white space skipped, an optional sign, digits up to the
// first other character); none for text that is no number or lies outside
// 32 signed bits.
std::optional<int32_t> SerialNumberOf(std::string_view typed);

struct TranscriptReading {
  std::string release;      // "1.1.5(1)", from the release line; empty when none was shown
  std::string device_line;  // the listing line of the device the typed serial picks; empty when none
  // The table's message the run ended with, with its status; else
  // "outcome not recognised".
  std::string outcome;
  bool recognised = false;
  std::optional<double> erase_seconds;    // from "complete (N.NNNsecs)"
  std::optional<double> program_seconds;
  RunStage stage = RunStage::kListing;
};

// The whole transcript of a run that ended with `exit_status`. A message of
// the table counts only as the run's last line but "Press space to exit",
// with the table's status for it.
TranscriptReading ReadTranscript(std::string_view transcript, std::string_view typed, int64_t exit_status);

// How far a run in progress has got.
RunStage StageOf(std::string_view transcript_so_far);

// Whether the tool has asked for the serial number.
bool AsksForSerial(std::string_view transcript_so_far);

// The outcome of a run that programmed its device, and of one that found
// its device's programming group held by another run.
extern const char kSuccessOutcome[];
extern const char kBusyOutcome[];
extern const char kNotRecognised[];

#endif  // K27_KIT_TRANSCRIPT_READING_H_
