#ifndef K27_SIM_JOURNAL_H_
#define K27_SIM_JOURNAL_H_

// The simulator's journal: one JSON line per call, appended to the file the
// environment names, and the arrays it received written as files beside it.
// Without a journal file nothing is written anywhere.

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>

// Opens the journal (a Windows path); an empty path leaves it off.
void OpenJournal(const std::wstring& path);

// Appends the line with the process id and a sequence number added.
void JournalWrite(nlohmann::json line);

// Writes the bytes to a new file in the journal's folder, named after the
// operation; returns the file's name (no folder), or "" with no journal.
std::string JournalDump(const std::string& op, const uint8_t* data, size_t size);

#endif  // K27_SIM_JOURNAL_H_
