#include "lib/long_path.h"

namespace {

// MAX_PATH (260) less the 12 characters Windows keeps for an 8.3 file name.
constexpr size_t kLongFrom = 248;

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool IsDriveLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

}  // namespace

std::wstring ExtendedLengthPath(const std::wstring& path) {
  if (path.size() < kLongFrom) return path;
  // "\\?\" (already extended) and "\\.\" (a device) are left alone.
  if (path.size() >= 4 && IsSeparator(path[0]) && IsSeparator(path[1]) && (path[2] == L'?' || path[2] == L'.') &&
      IsSeparator(path[3])) {
    return path;
  }
  if (path.size() >= 3 && IsDriveLetter(path[0]) && path[1] == L':' && path[2] == L'\\') return L"\\\\?\\" + path;
  if (path.size() >= 3 && path[0] == L'\\' && path[1] == L'\\' && !IsSeparator(path[2])) {
    return L"\\\\?\\UNC\\" + path.substr(2);
  }
  return path;  // not a full path: nothing to extend
}

std::wstring Folder(const std::wstring& path) {
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}
