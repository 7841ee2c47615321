#ifndef K27_KIT_JOURNAL_LINES_H_
#define K27_KIT_JOURNAL_LINES_H_

#include <nlohmann/json.hpp>

#include <filesystem>
#include <vector>

// The simulator's journal file as the model reads it (model/journal.h); a
// missing journal as no lines.
std::vector<nlohmann::json> ReadJournalLines(const std::filesystem::path& path);

#endif  // K27_KIT_JOURNAL_LINES_H_
