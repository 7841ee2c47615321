#ifndef K27_TOOLS_IMAGE_FILE_BYTES_H_
#define K27_TOOLS_IMAGE_FILE_BYTES_H_

#include <cstdint>
#include <string>
#include <vector>

// Whole files in and out. False, with the reason in `error`, when
// the file cannot be read or written completely.
bool ReadFileBytes(const std::string& path, std::vector<uint8_t>& bytes, std::string& error);
bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes, std::string& error);

#endif  // K27_TOOLS_IMAGE_FILE_BYTES_H_
