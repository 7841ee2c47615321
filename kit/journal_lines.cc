#include "journal_lines.h"

#include <string>

#include "lib/file_bytes.h"
#include "model/journal.h"

std::vector<nlohmann::json> ReadJournalLines(const std::filesystem::path& path) {
  std::vector<uint8_t> bytes;
  std::string ignored;
  if (!ReadFileBytes(path, bytes, ignored)) return {};
  return model::ParseJournal(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}
