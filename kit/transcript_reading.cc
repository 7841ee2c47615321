#include "transcript_reading.h"

#include <charconv>
#include <vector>

#include "model/outcomes.h"

const char kSuccessOutcome[] = "PROGRAMMING SUCCESSFUL";
const char kBusyOutcome[] = "COULD NOT ACQUIRE CODE PROGRAMMING GROUP AT DEVICE";
const char kNotRecognised[] = "outcome not recognised";

namespace {

constexpr std::string_view kPrompt = "Please enter the serial number of the device you wish to program : ";
constexpr std::string_view kReleaseLine = "Ready to program K27 firmware release ";
constexpr std::string_view kFound = "Found : ";
constexpr std::string_view kEligible = "Found : K27#";
constexpr std::string_view kNotReady = " NOT READY FOR CODE PROGRAMMING";
constexpr std::string_view kErase = "Code flash erase ... ";
constexpr std::string_view kErasing = "erasing ... ";
constexpr std::string_view kProgram = "Code flash program ... ";
constexpr std::string_view kReset = "Reset request ... ";

std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

bool Skip(std::string_view& text, std::string_view prefix) {
  if (!text.starts_with(prefix)) return false;
  text.remove_prefix(prefix.size());
  return true;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A whole decimal number, with an optional minus sign.
std::optional<int64_t> WholeNumber(std::string_view text) {
  int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || text.empty() || text[0] == '+') return std::nullopt;
  return value;
}

// "1.1.5(1)": the four numbers of the release line's "%d.%d.%d(%d)".
bool IsRelease(std::string_view text) {
  for (char separator : {'.', '.', '('}) {
    const size_t at = text.find(separator);
    if (at == std::string_view::npos || !WholeNumber(text.substr(0, at))) return false;
    text.remove_prefix(at + 1);
  }
  return text.ends_with(')') && WholeNumber(text.substr(0, text.size() - 1)).has_value();
}

// "complete (12.333secs)": the seconds; none for "complete" alone (the PC
// had no performance counter) or anything else.
std::optional<double> CompletionSeconds(std::string_view rest) {
  if (!Skip(rest, "complete (") || !rest.ends_with("secs)")) return std::nullopt;
  rest.remove_suffix(5);
  const size_t point = rest.find('.');
  if (point == std::string_view::npos || rest.size() - point != 4) return std::nullopt;
  for (size_t i = 0; i < rest.size(); ++i) {
    if (i != point && !IsDigit(rest[i]) && !(i == 0 && rest[i] == '-')) return std::nullopt;
  }
  double seconds = 0;
  const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), seconds);
  if (error != std::errc() || end != rest.data() + rest.size()) return std::nullopt;
  return seconds;
}

// The serial number of a listing line the tool lets the operator pick: a
// K27 device ready for code programming ("#%04d" right after the family).
std::optional<int64_t> EligibleSerial(std::string_view line) {
  if (!Skip(line, kEligible) || line.ends_with(kNotReady)) return std::nullopt;
  return WholeNumber(line.substr(0, line.find(' ')));
}

}  // namespace

const char* StageName(RunStage stage) {
  switch (stage) {
    case RunStage::kListing: return "listing";
    case RunStage::kErase: return "erase";
    case RunStage::kProgram: return "program";
    case RunStage::kReset: return "reset";
  }
  return "";
}

std::optional<int32_t> SerialNumberOf(std::string_view typed) {
  while (!typed.empty() && (typed[0] == ' ' || (typed[0] >= '\t' && typed[0] <= '\r'))) typed.remove_prefix(1);
  const bool negative = Skip(typed, "-");
  if (!negative) Skip(typed, "+");
  size_t digits = 0;
  while (digits < typed.size() && IsDigit(typed[digits])) ++digits;
  if (digits == 0) return std::nullopt;
  int64_t value = 0;
  for (size_t i = 0; i < digits; ++i) {
    value = value * 10 + (typed[i] - '0');
    if (value > (int64_t{1} << 31)) return std::nullopt;
  }
  if (negative) value = -value;
  if (value < INT32_MIN || value > INT32_MAX) return std::nullopt;
  return static_cast<int32_t>(value);
}

RunStage StageOf(std::string_view transcript) {
  if (transcript.find(kReset) != std::string_view::npos) return RunStage::kReset;
  if (transcript.find(kProgram) != std::string_view::npos) return RunStage::kProgram;
  if (transcript.find(kErase) != std::string_view::npos) return RunStage::kErase;
  return RunStage::kListing;
}

bool AsksForSerial(std::string_view transcript) { return transcript.find(kPrompt) != std::string_view::npos; }

TranscriptReading ReadTranscript(std::string_view transcript, std::string_view typed, int64_t exit_status) {
  TranscriptReading reading;
  reading.stage = StageOf(transcript);
  reading.outcome = kNotRecognised;
  const std::vector<std::string_view> lines = SplitLines(transcript);
  const std::optional<int32_t> serial = SerialNumberOf(typed);
  bool listing = true;  // before the prompt
  for (std::string_view line : lines) {
    std::string_view rest = line;
    if (Skip(rest, kReleaseLine) && reading.release.empty() && IsRelease(rest)) reading.release = rest;
    if (line.starts_with(kPrompt)) {
      listing = false;
    } else if (listing && serial && line.starts_with(kFound) && reading.device_line.empty() &&
               EligibleSerial(line) == *serial) {
      reading.device_line = line;
    }
    rest = line;
    if (Skip(rest, kErase)) {
      Skip(rest, kErasing);
      reading.erase_seconds = CompletionSeconds(rest);
    } else if (Skip(rest, kProgram)) {
      reading.program_seconds = CompletionSeconds(rest);
    }
  }
  // No prompt answered, no device picked.
  if (listing) reading.device_line.clear();

  if (lines.size() >= 2 && lines.back() == model::kPressSpaceLine) {
    std::string_view message = lines[lines.size() - 2];
    // The message completes whatever line was open: the prompt's, or a
    // progress line's.
    while (Skip(message, kPrompt) || Skip(message, kErase) || Skip(message, kErasing) || Skip(message, kProgram) ||
           Skip(message, kReset)) {
    }
    const model::Outcome* outcome = model::FindOutcome(message);
    if (outcome && outcome->status == exit_status) {
      reading.outcome = outcome->message;
      reading.recognised = true;
    }
  }
  return reading;
}
