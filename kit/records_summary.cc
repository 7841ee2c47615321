#include "records_summary.h"

#include <algorithm>
#include <map>
#include <optional>

#include "transcript_reading.h"

namespace {

struct Run {
  const RecordSource* file;
  const RecordedRun* run;
};

std::string Format(const char* format, double value) {
  char text[32];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// A device as the tool picked it: by the serial number the typed line
// holds, else by the line itself.
std::string DeviceKey(const RunFacts& f) {
  const std::optional<int32_t> serial = SerialNumberOf(f.typed);
  if (!serial) return "\"" + f.typed + "\"";
  char text[16];
  std::snprintf(text, sizeof text, "%04d", *serial);
  return text;
}

std::string ReleaseOf(const RunFacts& f) {
  if (!f.release.empty()) return f.release;
  return f.tool_release.empty() ? "(none)" : f.tool_release;
}

bool Succeeded(const RecordedRun& r) { return r.ended && r.facts.recognised && r.facts.outcome == kSuccessOutcome; }

std::string Where(const Run& r) { return r.file->name + ":" + std::to_string(r.run->line); }

std::string Padded(std::string text, size_t width) {
  if (text.size() < width) text.append(width - text.size(), ' ');
  return text;
}

std::string Cell(const std::string& text) {
  std::string cell = text;
  const bool number = !text.empty() && text.find_first_not_of("-0123456789.") == std::string::npos;
  if (!number && !text.empty() && std::string("=+-@\t\r").find(text[0]) != std::string::npos) cell = "'" + cell;
  if (cell.find_first_of(",\"\r\n") == std::string::npos) return cell;
  std::string quoted = "\"";
  for (char c : cell) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

template <typename T>
std::string Optional(const std::optional<T>& value, const char* format) {
  return value ? Format(format, static_cast<double>(*value)) : std::string();
}

}  // namespace

std::string RecordsReport(const std::vector<RecordSource>& files) {
  std::vector<Run> runs;
  size_t damaged = 0;
  for (const RecordSource& file : files) {
    for (const RecordedRun& run : file.reading.runs) runs.push_back({&file, &run});
    damaged += file.reading.damaged.size();
  }
  const size_t ended = std::count_if(runs.begin(), runs.end(), [](const Run& r) { return r.run->ended; });
  std::string out = std::to_string(files.size()) + (files.size() == 1 ? " file, " : " files, ") +
                    std::to_string(runs.size()) + " runs (" + std::to_string(ended) + " ended, " +
                    std::to_string(runs.size() - ended) + " with no end)\n";
  if (damaged) {
    out += "\nlines skipped, not whole records (" + std::to_string(damaged) + "):\n";
    for (const RecordSource& file : files) {
      for (const DamagedLine& d : file.reading.damaged)
        out += "  " + file.name + ":" + std::to_string(d.line) + ": " + d.why + "\n";
    }
  }

  // By release and outcome.
  std::map<std::pair<std::string, std::string>, size_t> counts;
  size_t release_width = 7;
  for (const Run& r : runs) {
    const std::string release = ReleaseOf(r.run->facts);
    release_width = std::max(release_width, release.size());
    ++counts[{release, r.run->ended ? r.run->facts.outcome : "(no end)"}];
  }
  out += "\nruns by release and outcome:\n  " + Padded("runs", 7) + Padded("release", release_width + 2) + "outcome\n";
  for (const auto& [key, count] : counts) {
    out += "  " + Padded(std::to_string(count), 7) + Padded(key.first, release_width + 2) + key.second + "\n";
  }

  // Each device's runs, in the order they started.
  std::map<std::string, std::vector<Run>> devices;
  for (const Run& r : runs) devices[DeviceKey(r.run->facts)].push_back(r);
  std::string failed, again;
  size_t failed_count = 0, again_count = 0;
  for (auto& [device, its] : devices) {
    std::stable_sort(its.begin(), its.end(),
                     [](const Run& a, const Run& b) { return a.run->facts.start < b.run->facts.start; });
    const Run& last = its.back();
    if (!Succeeded(*last.run)) {
      ++failed_count;
      const RunFacts& f = last.run->facts;
      failed += "  " + device + "  " + (last.run->ended ? f.outcome : "no end") + ", started " + f.start + " on " +
                f.pc + " (" + Where(last) + ")\n";
    }
    std::vector<const Run*> successes;
    for (const Run& r : its) {
      if (Succeeded(*r.run)) successes.push_back(&r);
    }
    if (successes.size() > 1) {
      ++again_count;
      again += "  " + device + "  " + std::to_string(successes.size()) + " times:";
      for (const Run* r : successes) again += " " + r->run->facts.start + " (" + ReleaseOf(r->run->facts) + ")";
      again += "\n";
    }
  }
  out += "\ndevices whose last run did not succeed: " + std::to_string(failed_count) + "\n" + failed;
  out += "\ndevices programmed more than once: " + std::to_string(again_count) + "\n" + again;
  out += "\nruns with no end: " + std::to_string(runs.size() - ended) + "\n";
  for (const Run& r : runs) {
    if (r.run->ended) continue;
    const RunFacts& f = r.run->facts;
    out += "  " + DeviceKey(f) + "  started " + f.start + " on " + f.pc + " by " + f.user + " (" + Where(r) +
           "): the device may be erased; program it again\n";
  }
  return out;
}

std::string RecordsCsv(const std::vector<RecordSource>& files) {
  std::string csv =
      "\xEF\xBB\xBF"
      "file,line,session,run,pc,user,typed,serial,device,release,outcome,status,start,end,erase_seconds,"
      "program_seconds,tool,tool_sha256,tool_release\r\n";
  for (const RecordSource& file : files) {
    for (const RecordedRun& run : file.reading.runs) {
      const RunFacts& f = run.facts;
      const std::optional<int32_t> serial = SerialNumberOf(f.typed);
      const std::vector<std::string> cells = {
          file.name, std::to_string(run.line), f.session, std::to_string(f.run), f.pc, f.user, f.typed,
          Optional(serial, "%.0f"), f.device, run.ended ? f.release : "", run.ended ? f.outcome : "",
          run.ended ? Optional(f.status, "%.0f") : "", f.start, f.end, Optional(f.erase_seconds, "%.3f"),
          Optional(f.program_seconds, "%.3f"), f.tool, f.tool_sha256, f.tool_release};
      for (size_t i = 0; i < cells.size(); ++i) csv += (i ? "," : "") + Cell(cells[i]);
      csv += "\r\n";
    }
  }
  return csv;
}
