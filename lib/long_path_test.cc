#include "lib/long_path.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// A full path of exactly `length` characters under C:\.
std::wstring DrivePath(size_t length) {
  std::wstring path = L"C:\\k27\\";
  path.append(length - path.size(), L'a');
  return path;
}

TEST(LongPathTest, ExtendedOnlyFromTheLengthWindowsRefuses) {
  const std::wstring unc_long = L"\\\\server\\share\\" + std::wstring(240, L'b');
  const std::wstring bare_long = L"relative\\" + std::wstring(300, L'c');
  struct Row {
    const char* what;
    std::wstring in, out;
  } rows[] = {
      {"empty", L"", L""},
      {"short", L"C:\\k27\\bench.json", L"C:\\k27\\bench.json"},
      {"one below the bound", DrivePath(247), DrivePath(247)},
      {"at the bound", DrivePath(248), L"\\\\?\\" + DrivePath(248)},
      {"past MAX_PATH", DrivePath(300), L"\\\\?\\" + DrivePath(300)},
      {"lower-case drive", L"d" + DrivePath(300).substr(1), L"\\\\?\\d" + DrivePath(300).substr(1)},
      {"a share", unc_long, L"\\\\?\\UNC\\server\\share\\" + std::wstring(240, L'b')},
      {"already extended", L"\\\\?\\" + DrivePath(300), L"\\\\?\\" + DrivePath(300)},
      {"a share already extended", L"\\\\?\\UNC\\s\\" + std::wstring(300, L'd'),
       L"\\\\?\\UNC\\s\\" + std::wstring(300, L'd')},
      {"a device path", L"\\\\.\\" + std::wstring(300, L'e'), L"\\\\.\\" + std::wstring(300, L'e')},
      {"not full: relative", bare_long, bare_long},
      {"not full: drive-relative", L"C:" + std::wstring(300, L'f'), L"C:" + std::wstring(300, L'f')},
      {"not full: rooted without a drive", L"\\" + std::wstring(300, L'g'), L"\\" + std::wstring(300, L'g')},
      {"not full: forward slashes", L"C:/" + std::wstring(300, L'h'), L"C:/" + std::wstring(300, L'h')},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(ExtendedLengthPath(row.in), row.out);
  }
}

}  // namespace
