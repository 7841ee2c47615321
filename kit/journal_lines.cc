#include "journal_lines.h"

#include <string>

#include "lib/file_bytes.h"

std::vector<nlohmann::json> ReadJournalLines(const std::filesystem::path& path) {
  std::vector<nlohmann::json> lines;
  std::vector<uint8_t> bytes;
  std::string ignored;
  if (!ReadFileBytes(path, bytes, ignored)) return lines;
  const std::string text(bytes.begin(), bytes.end());
  size_t start = 0;
  for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1) {
    nlohmann::json line = nlohmann::json::parse(text.substr(start, nl - start), nullptr, false);
    if (line.is_discarded()) line = {{"op", "(unreadable journal line)"}};
    lines.push_back(std::move(line));
  }
  return lines;
}
