#include "command_line.h"

#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The arguments after the program's name, as Windows reads a command line.
std::vector<std::wstring> SplitCommandLine(const std::wstring& line) {
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(line.c_str(), &argc);
  std::vector<std::wstring> args;
  for (int i = 1; argv && i < argc; ++i) args.emplace_back(argv[i]);
  if (argv) LocalFree(argv);
  return args;
}

TEST(CommandLineTest, SwitchesAndTheirMistakes) {
  using M = SimMode;
  using S = RegistrationScope;
  struct Row {
    std::vector<std::wstring> args;
    M mode;
    S scope;
    std::wstring bench, journal;
    bool force;
    bool mistake;
  } rows[] = {
      {{L"/RegServer"}, M::kRegister, S::kMachine, L"", L"", false, false},
      {{L"-regserver", L"/force"}, M::kRegister, S::kMachine, L"", L"", true, false},
      {{L"-RegServerPerUser", L"/bench", L"C:\\b.json"}, M::kRegister, S::kUser, L"C:\\b.json", L"", false, false},
      {{L"/journal", L"j.jsonl", L"/REGSERVER"}, M::kRegister, S::kMachine, L"", L"j.jsonl", false, false},
      {{L"/UnregServer"}, M::kUnregister, S::kMachine, L"", L"", false, false},
      {{L"-UNREGSERVERPERUSER"}, M::kUnregister, S::kUser, L"", L"", false, false},
      // As COM starts it: the registration's arguments, then -Embedding.
      {{L"/bench", L"C:\\a b\\b.json", L"/journal", L"C:\\j.jsonl", L"-Embedding"}, M::kServe, S::kMachine,
       L"C:\\a b\\b.json", L"C:\\j.jsonl", false, false},
      {{L"/Embedding"}, M::kServe, S::kMachine, L"", L"", false, false},
      {{}, M::kUsage, S::kMachine, L"", L"", false, false},
      {{L"/?"}, M::kUsage, S::kMachine, L"", L"", false, false},
      // Mistakes: each is a usage error, never a guess.
      {{L"/RegServer", L"/UnregServer"}, M::kUsage, S::kMachine, L"", L"", false, true},
      {{L"/RegServer", L"/bench"}, M::kUsage, S::kMachine, L"", L"", false, true},
      {{L"/RegServer", L"/bench", L"/journal", L"j"}, M::kUsage, S::kMachine, L"", L"", false, true},
      {{L"/RegServer", L"/bench", L"a", L"/bench", L"b"}, M::kUsage, S::kMachine, L"", L"", false, true},
      {{L"/UnregServer", L"/force"}, M::kUsage, S::kMachine, L"", L"", false, true},
      {{L"/UnregServerPerUser", L"/journal", L"j"}, M::kUsage, S::kMachine, L"", L"", false, true},
      {{L"/bench", L"b.json"}, M::kUsage, S::kMachine, L"", L"", false, true},
      {{L"/force"}, M::kUsage, S::kMachine, L"", L"", false, true},
      {{L"/RegServer", L"-Embedding"}, M::kUsage, S::kMachine, L"", L"", false, true},
      {{L"bench.json"}, M::kUsage, S::kMachine, L"", L"", false, true},
      {{L"/RegServe"}, M::kUsage, S::kMachine, L"", L"", false, true},
  };
  for (const Row& row : rows) {
    std::wstring shown;
    for (const std::wstring& a : row.args) shown += a + L" ";
    SCOPED_TRACE(testing::Message() << "args: " << std::string(shown.begin(), shown.end()));
    const SimCommand c = ParseCommandLine(row.args);
    EXPECT_EQ(c.mode, row.mode);
    EXPECT_EQ(!c.error.empty(), row.mistake);
    if (row.mistake) continue;
    EXPECT_EQ(c.scope, row.scope);
    EXPECT_EQ(c.bench, row.bench);
    EXPECT_EQ(c.journal, row.journal);
    EXPECT_EQ(c.force, row.force);
  }
}

TEST(CommandLineTest, ArgumentsSurviveWindowsParsing) {
  const std::wstring texts[] = {
      L"plain", L"", L"with blank", L"C:\\Program Files\\K27 kit\\bench.json", L"a\"b", L"ends in \\",
      L"\\\\server\\share\\bench file.json", L"two\\\\\"quotes\"", L"tab\there", L"\u00e9t\u00e9 \u65e5\u672c"};
  for (const std::wstring& text : texts) {
    const std::vector<std::wstring> args = SplitCommandLine(L"prog.exe " + QuoteArgument(text) + L" next");
    ASSERT_EQ(args.size(), 2u) << std::string(text.begin(), text.end());
    EXPECT_EQ(args[0], text);
    EXPECT_EQ(args[1], L"next");
  }
}

TEST(CommandLineTest, TheRegisteredCommandLineIsTheProgramAlone) {
  for (const std::wstring exe : {L"C:\\kit\\k27sim.exe", L"C:\\Program Files\\K27 kit\\k27sim.exe",
                                 L"C:\\PROGRA~1\\K27KIT~1\\K27SIM.EXE"}) {
    const std::wstring line = ServerCommandLine(exe);
    EXPECT_EQ(CommandLineProgram(line), exe);
    EXPECT_EQ(ProgramFileName(line), L"k27sim.exe");
    // COM adds -Embedding to what the registration holds.
    const SimCommand c = ParseCommandLine(SplitCommandLine(line + L" -Embedding"));
    EXPECT_EQ(c.mode, SimMode::kServe) << std::string(line.begin(), line.end());
    EXPECT_EQ(c.bench, L"");
    EXPECT_EQ(c.journal, L"");
  }
}

TEST(CommandLineTest, TheProgramARegistrationStarts) {
  struct Row {
    std::wstring line, file;
  } rows[] = {
      {L"\"C:\\Program Files\\K27\\k27sim.exe\" /bench \"C:\\b.json\" -Embedding", L"k27sim.exe"},
      {L"C:\\kit\\K27SIM.EXE -Embedding", L"k27sim.exe"},
      {L"C:\\Program Files\\Vendor\\devserver.exe /automation", L"devserver.exe"},
      {L"C:\\Tools\\k27sim.exe.bak\\server.exe", L"server.exe"},
      {L"C:\\x\\not-k27sim.exe", L"not-k27sim.exe"},
      {L"  \"C:\\x\\k27sim.exe\"", L"k27sim.exe"},
      {L"", L""},
      {L"server", L"server"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(ProgramFileName(row.line), row.file) << std::string(row.line.begin(), row.line.end());
  }
}

}  // namespace
