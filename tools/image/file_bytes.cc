#include "image/file_bytes.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

bool ReadFileBytes(const std::string& path, std::vector<uint8_t>& bytes, std::string& error) {
  bytes.clear();
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  uint8_t chunk[65536];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.insert(bytes.end(), chunk, chunk + got);
  const bool failed = std::ferror(file);
  std::fclose(file);
  if (failed) error = path + ": read failed";
  return !failed;
}

bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes, std::string& error) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  // A full disk may only show when the buffered tail is written out.
  const bool closed = std::fclose(file) == 0;
  if (!written || !closed) {
    error = path + ": write failed";
    std::remove(path.c_str());
    return false;
  }
  return true;
}
