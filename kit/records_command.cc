#include "records_command.h"

#include <filesystem>

#include "lib/file_bytes.h"
#include "lib/long_path.h"
#include "lib/switch_output.h"
#include "lib/wide_text.h"
#include "records_summary.h"

int RunRecords(const KitCommand& command) {
  std::vector<RecordSource> files;
  for (const std::wstring& name : command.record_files) {
    std::vector<uint8_t> bytes;
    std::string error;
    if (!ReadFileBytes(std::filesystem::path(FullPath(name)), bytes, error)) {
      WriteLine(OutputStream::kErr, "k27kit records: " + error);
      return 1;
    }
    RecordSource source{Utf8(name), ReadRecordFile(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()))};
    if (source.reading.foreign) {
      WriteLine(OutputStream::kErr, "k27kit records: " + source.name + " is not a station's record (no line of it is a run's)");
      return 1;
    }
    files.push_back(std::move(source));
  }
  WriteText(OutputStream::kOut, RecordsReport(files));
  if (!command.csv.empty()) {
    const std::string csv = RecordsCsv(files);
    std::string error;
    if (!WriteFileBytes(std::filesystem::path(FullPath(command.csv)), std::vector<uint8_t>(csv.begin(), csv.end()), error)) {
      WriteLine(OutputStream::kErr, "k27kit records: cannot write the CSV: " + error);
      return 1;
    }
    WriteLine(OutputStream::kOut, "\nCSV, one row per run: " + Utf8(command.csv));
  }
  return 0;
}
