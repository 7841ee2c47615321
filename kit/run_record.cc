#include "run_record.h"

#include <cryptopp/base64.h>
#include <cryptopp/filters.h>

#include <ctime>
#include <nlohmann/json.hpp>
#include <unordered_map>

#include "bench/text_encoding.h"
#include "transcript_reading.h"

const char kNotStarted[] = "not started";

namespace {

using Line = nlohmann::ordered_json;

// What marks a line as the station's, whatever its version.
constexpr char kRecordName[] = "k27 station run";

std::string Base64(std::string_view bytes) {
  std::string out;
  CryptoPP::StringSource(reinterpret_cast<const CryptoPP::byte*>(bytes.data()), bytes.size(), true,
                         new CryptoPP::Base64Encoder(new CryptoPP::StringSink(out), false));
  return out;
}

Line TextOrNull(const std::string& text) { return text.empty() ? Line() : Line(text); }

template <typename T>
Line ValueOrNull(const std::optional<T>& value) {
  return value ? Line(*value) : Line();
}

Line StartOf(const RunFacts& f, const char* event) {
  Line line;
  line["record"] = kRecordName;
  line["version"] = kRecordVersion;
  line["event"] = event;
  line["session"] = f.session;
  line["run"] = f.run;
  line["pc"] = f.pc;
  line["user"] = f.user;
  line["tool"] = f.tool;
  line["tool_sha256"] = f.tool_sha256;
  line["tool_release"] = TextOrNull(f.tool_release);
  line["typed"] = f.typed;
  line["serial"] = ValueOrNull(SerialNumberOf(f.typed));
  line["start"] = f.start;
  return line;
}

std::string Written(const Line& line) {
  // Bytes that are no UTF-8 (a typed line from a program writing in the
  // ANSI code page) are carried as U+FFFD; the transcript keeps them in
  // transcript_base64 as well.
  return line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

std::string FieldText(const nlohmann::json& line, const char* key) {
  const auto found = line.find(key);
  return found != line.end() && found->is_string() ? found->get<std::string>() : std::string();
}

template <typename T>
std::optional<T> FieldNumber(const nlohmann::json& line, const char* key) {
  const auto found = line.find(key);
  if (found == line.end() || !found->is_number()) return std::nullopt;
  return found->get<T>();
}

void ReadFacts(const nlohmann::json& line, RunFacts& f) {
  f.session = FieldText(line, "session");
  f.run = FieldNumber<int64_t>(line, "run").value_or(0);
  f.pc = FieldText(line, "pc");
  f.user = FieldText(line, "user");
  f.tool = FieldText(line, "tool");
  f.tool_sha256 = FieldText(line, "tool_sha256");
  f.tool_release = FieldText(line, "tool_release");
  f.typed = FieldText(line, "typed");
  f.start = FieldText(line, "start");
  if (FieldText(line, "event") != "end") return;
  f.end = FieldText(line, "end");
  f.pid = FieldNumber<int64_t>(line, "pid");
  f.status = FieldNumber<int64_t>(line, "status");
  f.release = FieldText(line, "release");
  f.device = FieldText(line, "device");
  f.outcome = FieldText(line, "outcome");
  f.recognised = line.value("recognised", false);
  f.erase_seconds = FieldNumber<double>(line, "erase_seconds");
  f.program_seconds = FieldNumber<double>(line, "program_seconds");
  f.transcript = FieldText(line, "transcript");
  f.error = FieldText(line, "error");
}

// Why a parsed line is no record line this reader takes, or empty.
std::string Refusal(const nlohmann::json& line) {
  if (!line.is_object() || FieldText(line, "record") != kRecordName) return "not a station record line";
  const std::optional<int64_t> version = FieldNumber<int64_t>(line, "version");
  if (!version || *version < 1) return "a record line without its version";
  if (*version > kRecordVersion)
    return "written in version " + std::to_string(*version) + " of the format; this kit reads up to " +
           std::to_string(kRecordVersion);
  const std::string event = FieldText(line, "event");
  if (event != "start" && event != "end") return "a record line of no known event";
  if (FieldText(line, "session").empty() || !FieldNumber<int64_t>(line, "run")) return "a record line naming no run";
  return {};
}

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

}  // namespace

std::string UtcText(int64_t ms) {
  const time_t seconds = static_cast<time_t>(ms / 1000);
  std::tm utc{};
#ifdef _WIN32
  gmtime_s(&utc, &seconds);
#else
  gmtime_r(&seconds, &utc);
#endif
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(ms % 1000));
  return text;
}

std::string StartLine(const RunFacts& facts) { return Written(StartOf(facts, "start")); }

std::string EndLine(const RunFacts& f) {
  Line line = StartOf(f, "end");
  line["end"] = f.end;
  line["pid"] = ValueOrNull(f.pid);
  line["status"] = ValueOrNull(f.status);
  line["release"] = TextOrNull(f.release);
  line["device"] = TextOrNull(f.device);
  line["outcome"] = f.outcome;
  line["recognised"] = f.recognised;
  line["erase_seconds"] = ValueOrNull(f.erase_seconds);
  line["program_seconds"] = ValueOrNull(f.program_seconds);
  if (!f.error.empty()) line["error"] = f.error;
  line["transcript"] = f.transcript;
  if (FirstNonUtf8(f.transcript) != std::string_view::npos) line["transcript_base64"] = Base64(f.transcript);
  return Written(line);
}

RecordFileReading ReadRecordFile(std::string_view text) {
  RecordFileReading reading;
  std::unordered_map<std::string, size_t> index;  // "session/run" to its place in runs
  size_t number = 0, lines = 0;
  while (!text.empty()) {
    ++number;
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (end == std::string_view::npos) reading.torn_end = true;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.find_first_not_of(" \t") == std::string_view::npos) continue;
    ++lines;
    const nlohmann::json parsed = nlohmann::json::parse(line, nullptr, false);
    if (parsed.is_discarded()) {
      reading.damaged.push_back(
          {number, reading.torn_end ? "cut short: the file ends inside it" : "not a whole line of JSON"});
      continue;
    }
    const std::string why = Refusal(parsed);
    if (!why.empty()) {
      reading.damaged.push_back({number, why});
      continue;
    }
    const std::string key = FieldText(parsed, "session") + "/" + std::to_string(*FieldNumber<int64_t>(parsed, "run"));
    auto [at, fresh] = index.emplace(key, reading.runs.size());
    if (fresh) {
      reading.runs.emplace_back();
      reading.runs.back().line = number;
    }
    RecordedRun& run = reading.runs[at->second];
    const bool is_end = FieldText(parsed, "event") == "end";
    if ((is_end ? run.ended : run.started)) {
      reading.damaged.push_back({number, "a second " + FieldText(parsed, "event") + " line for run " + key});
      continue;
    }
    (is_end ? run.ended : run.started) = true;
    // The end line carries everything the start line does.
    if (is_end || !run.ended) ReadFacts(parsed, run.facts);
  }
  reading.foreign = lines > 0 && reading.runs.empty();
  return reading;
}

std::string ManifestSha256(std::string_view manifest, std::string_view name) {
  while (!manifest.empty()) {
    const size_t end = manifest.find('\n');
    std::string_view line = manifest.substr(0, end);
    manifest.remove_prefix(end == std::string_view::npos ? manifest.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    // "HASH  NAME" (or "HASH *NAME"), as sha256sum writes it.
    if (line.size() < 66 || line[64] != ' ' || (line[65] != ' ' && line[65] != '*')) continue;
    std::string hash(line.substr(0, 64));
    for (char& c : hash) c = LowerAscii(c);
    if (hash.find_first_not_of("0123456789abcdef") != std::string::npos) continue;
    if (SameName(line.substr(66), name)) return hash;
  }
  return {};
}
