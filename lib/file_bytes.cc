#include "lib/file_bytes.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "lib/long_path.h"
#include "lib/reject.h"

namespace {

FILE* OpenFile(const std::filesystem::path& path, bool write) {
#ifdef _WIN32
  return _wfopen(PathForOpening(path).c_str(), write ? L"wb" : L"rb");
#else
  return std::fopen(path.c_str(), write ? "wb" : "rb");
#endif
}

}  // namespace

std::string PathText(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

std::filesystem::path Utf8Path(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::filesystem::path PathForOpening(const std::filesystem::path& path) {
#ifdef _WIN32
  return std::filesystem::path(PathForFileCalls(path.wstring()));
#else
  return path;
#endif
}

bool ReadFileBytes(const std::filesystem::path& path, std::vector<uint8_t>& bytes, std::string& error) {
  bytes.clear();
  FILE* file = OpenFile(path, false);
  if (!file) return Reject(error, PathText(path) + ": " + std::strerror(errno));
  uint8_t chunk[65536];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.insert(bytes.end(), chunk, chunk + got);
  const bool failed = std::ferror(file);
  std::fclose(file);
  if (failed) error = PathText(path) + ": read failed";
  return !failed;
}

bool WriteFileBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes, std::string& error) {
  FILE* file = OpenFile(path, true);
  if (!file) return Reject(error, PathText(path) + ": " + std::strerror(errno));
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  // A full disk may only show when the buffered tail is written out.
  const bool closed = std::fclose(file) == 0;
  if (!written || !closed) {
    error = PathText(path) + ": write failed";
    std::error_code ignored;
    std::filesystem::remove(PathForOpening(path), ignored);
    return false;
  }
  return true;
}
