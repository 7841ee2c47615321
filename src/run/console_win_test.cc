// The console's Windows edge with standard output redirected to a file, as
// an operator's "k27prog > run.txt" has it. (The console itself is reached
// only through a terminal: the end-to-end tests look at it.)

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cwchar>
#include <functional>
#include <string>

#include "run/console.h"
#include "server/identity_choice.h"

namespace {

// Runs `body` with the C run-time's standard output on a file of its own, in
// text mode as a redirected stdout is, and returns the file's bytes.
std::string Redirected(const std::function<void()>& body) {
  char folder[MAX_PATH];
  char path[MAX_PATH];
  if (!GetTempPathA(sizeof folder, folder) || !GetTempFileNameA(folder, "k27", 0, path)) {
    ADD_FAILURE() << "no temporary file";
    return {};
  }
  fflush(stdout);
  const int saved = _dup(_fileno(stdout));
  const int file = _open(path, _O_WRONLY | _O_TRUNC | _O_TEXT);
  if (saved < 0 || file < 0 || _dup2(file, _fileno(stdout)) != 0) {
    ADD_FAILURE() << "cannot redirect stdout";
    return {};
  }
  _close(file);
  ConsoleSink* previous = SetConsoleSink(nullptr);  // the build's own
  body();
  fflush(stdout);
  SetConsoleSink(previous);
  _dup2(saved, _fileno(stdout));
  _close(saved);
  std::string bytes;
  if (FILE* in = fopen(path, "rb")) {
    char chunk[65536];
    for (size_t n; (n = fread(chunk, 1, sizeof chunk, in)) > 0;) bytes.append(chunk, n);
    fclose(in);
  }
  DeleteFileA(path);
  return bytes;
}

std::string Letters(size_t count) {
  std::string text;
  for (size_t i = 0; i < count; ++i) text += static_cast<char>('a' + i % 26);
  return text;
}
std::wstring Wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

TEST(WindowsConsoleTest, RedirectedNamesGoOutAsUtf8BetweenUnchangedLines) {
  struct Row {
    std::wstring identity;
    const wchar_t* level;  // may be null, as the server's
    std::string line;      // as the file holds it
  } rows[] = {
      {L"Operator", L"Full", "Access as Operator : Full\r\n"},
      {L"Ing\u00e9nieur", L"Lecture seule \u00e0", "Access as Ing\xC3\xA9nieur : Lecture seule \xC3\xA0\r\n"},
      {L"\u20ac \u03a9", L"\u65e5\u672c", "Access as \xE2\x82\xAC \xCE\xA9 : \xE6\x97\xA5\xE6\x9C\xAC\r\n"},
      {L"\U0001F600", L"", "Access as \xF0\x9F\x98\x80 : \r\n"},
      // A surrogate without its partner cannot be UTF-8: U+FFFD stands in.
      {std::wstring(1, wchar_t(0xD83D)) + L"x", nullptr, "Access as \xEF\xBF\xBDx : \r\n"},
      {L"", nullptr, "Access as  : \r\n"},
      {Wide(Letters(240)), L"Full", "Access as " + Letters(240) + " : Full\r\n"},
      {Wide(Letters(300)), L"\u00e9", "Access as " + Letters(300) + " : \xC3\xA9\r\n"},
      {Wide(Letters(70000)), L"Code programming", "Access as " + Letters(70000) + " : Code programming\r\n"},
  };
  for (const Row& row : rows) {
    const std::string written = Redirected([&] {
      PrintText("Please enter the serial number of the device you wish to program : ");
      FlushOutput();
      PrintWideText(IdentityLine(row.identity.c_str(), row.level));
      PrintText("Code flash erase ... ");
      PrintLine("complete");
    });
    const std::string expected = "Please enter the serial number of the device you wish to program : " + row.line +
                                 "Code flash erase ... complete\r\n";
    EXPECT_EQ(written.size(), expected.size()) << row.line.size();
    EXPECT_TRUE(written == expected) << row.line.substr(0, 80);
  }
}

TEST(WindowsConsoleTest, AsciiLineKeepsTheBytesOfTheRunTimesWideOutput) {
  // What the C run-time's own wide output (fputwc, one character at a time)
  // writes for an ASCII line is what the line has always been.
  const std::wstring line = IdentityLine(L"Production engineer", L"Code programming");
  const std::string before = Redirected([&] {
    for (wchar_t c : line) fputwc(c, stdout);
  });
  const std::string now = Redirected([&] { PrintWideText(line); });
  EXPECT_EQ(before, "Access as Production engineer : Code programming\r\n");
  EXPECT_EQ(now, before);
}

}  // namespace
