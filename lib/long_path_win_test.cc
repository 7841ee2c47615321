// Paths made full and extended by Windows itself (GetFullPathNameW), and
// files past MAX_PATH written and read through them.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "lib/long_path.h"

namespace {

std::wstring TempFolder() {
  wchar_t folder[MAX_PATH];
  const DWORD length = GetTempPathW(MAX_PATH, folder);
  std::wstring path(folder, length);
  if (!path.empty() && path.back() == L'\\') path.pop_back();
  return path;
}

TEST(LongPathWinTest, RelativeAndDottedPathsAreMadeFull) {
  const std::wstring temp = TempFolder();
  ASSERT_TRUE(SetCurrentDirectoryW(temp.c_str()));
  EXPECT_EQ(PathForFileCalls(L"bench.json"), temp + L"\\bench.json");
  EXPECT_EQ(PathForFileCalls(temp + L"\\a\\..\\b/./c.json"), temp + L"\\b\\c.json");
  EXPECT_EQ(PathForFileCalls(L""), L"");
  // Long once made full: extended, with the dots resolved first.
  const std::wstring deep(300, L'x');
  EXPECT_EQ(PathForFileCalls(L"y\\..\\" + deep), L"\\\\?\\" + temp + L"\\" + deep);
}

TEST(LongPathWinTest, AFilePastMaxPathIsWrittenAndReadBack) {
  // Folders of 80 characters each (a Unix file name holds 255 bytes of
  // UTF-8), in Cyrillic and CJK, to about 370.
  std::wstring path = TempFolder() + L"\\k27-long-" + std::to_wstring(GetCurrentProcessId());
  const std::wstring parts[] = {std::wstring(80, L'\u0416'), std::wstring(80, L'\u6587'), std::wstring(80, L'z'),
                                std::wstring(80, L'\u00E9')};
  std::wstring made = path;
  ASSERT_TRUE(CreateDirectoryW(PathForFileCalls(made).c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
  for (const std::wstring& part : parts) {
    made += L"\\" + part;
    ASSERT_TRUE(CreateDirectoryW(PathForFileCalls(made).c_str(), nullptr)) << GetLastError();
  }
  const std::wstring file = made + L"\\bench.json";
  ASSERT_GT(file.size(), 340u);
  const std::wstring opened = PathForFileCalls(file);
  EXPECT_EQ(opened.rfind(L"\\\\?\\", 0), 0u);
  HANDLE h = CreateFileW(opened.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << GetLastError();
  DWORD wrote = 0;
  ASSERT_TRUE(WriteFile(h, "{}", 2, &wrote, nullptr));
  CloseHandle(h);
  WIN32_FILE_ATTRIBUTE_DATA data;
  ASSERT_TRUE(GetFileAttributesExW(opened.c_str(), GetFileExInfoStandard, &data));
  EXPECT_EQ(data.nFileSizeLow, 2u);

  EXPECT_TRUE(DeleteFileW(opened.c_str()));
  for (int i = 3; i >= -1; --i) {
    EXPECT_TRUE(RemoveDirectoryW(PathForFileCalls(made).c_str()));
    made = made.substr(0, made.find_last_of(L'\\'));
  }
}

}  // namespace
