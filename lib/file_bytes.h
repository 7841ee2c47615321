#ifndef K27_LIB_FILE_BYTES_H_
#define K27_LIB_FILE_BYTES_H_

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// Whole files in and out. False, with the reason in `error`, when
// the file cannot be read or written completely. Paths are wide on Windows,
// so a file in a folder of any script opens.
bool ReadFileBytes(const std::filesystem::path& path, std::vector<uint8_t>& bytes, std::string& error);
bool WriteFileBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes, std::string& error);

// The path as UTF-8, for messages.
std::string PathText(const std::filesystem::path& path);
// A path given as UTF-8 (the tool's arguments are); a std::string would be
// read in the C run-time's code page instead.
std::filesystem::path Utf8Path(const std::string& utf8);
// The path as the Windows file calls should get it at any length (see
// run/long_path.h); the path itself elsewhere.
std::filesystem::path PathForOpening(const std::filesystem::path& path);

#endif  // K27_LIB_FILE_BYTES_H_
