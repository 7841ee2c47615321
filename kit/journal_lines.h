#ifndef K27_KIT_JOURNAL_LINES_H_
#define K27_KIT_JOURNAL_LINES_H_

#include <nlohmann/json.hpp>

#include <filesystem>
#include <vector>

// The simulator's journal, one JSON object a line, as far as it is written:
// a server may still be writing its last line. A line that is no JSON reads
// as {"op": "(unreadable journal line)"}; a missing journal as no lines.
std::vector<nlohmann::json> ReadJournalLines(const std::filesystem::path& path);

#endif  // K27_KIT_JOURNAL_LINES_H_
