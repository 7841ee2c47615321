#include <windows.h>

#include "run/long_path.h"

std::wstring PathForFileCalls(const std::wstring& path) {
  if (path.empty()) return path;
  DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  for (int attempt = 0; size != 0 && attempt < 2; ++attempt) {
    std::wstring full(size, L'\0');
    const DWORD length = GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
    if (length == 0) break;
    if (length < size) {
      full.resize(length);
      return ExtendedLengthPath(full);
    }
    size = length;  // the current folder changed in between
  }
  return path;
}
