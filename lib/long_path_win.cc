#include <windows.h>

#include "lib/long_path.h"

std::wstring FullPath(const std::wstring& path) {
  DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  for (int attempt = 0; size != 0 && attempt < 2; ++attempt) {
    std::wstring full(size, L'\0');
    const DWORD length = GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
    if (length == 0) break;
    if (length < size) {
      full.resize(length);
      return full;
    }
    size = length;  // the current folder changed in between
  }
  return path;
}

std::wstring PathForFileCalls(const std::wstring& path) { return ExtendedLengthPath(FullPath(path)); }

std::wstring ThisProgram() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);
  }
}
