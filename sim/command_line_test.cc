#include "command_line.h"
#include "lib/arguments.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

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
  // A shared bench's state file, as a bench or a journal is given.
  EXPECT_EQ(ParseCommandLine({L"/RegServer", L"/state", L"C:\\s.json"}).state, L"C:\\s.json");
  EXPECT_NE(ParseCommandLine({L"/UnregServer", L"/state", L"C:\\s.json"}).error, L"");
  EXPECT_NE(ParseCommandLine({L"/RegServer", L"/state", L"/force"}).error, L"");
}

TEST(CommandLineTest, TheRegisteredCommandLineIsTheProgramAlone) {
  for (const std::wstring exe : {L"C:\\kit\\k27sim.exe", L"C:\\Program Files\\K27 kit\\k27sim.exe",
                                 L"C:\\PROGRA~1\\K27KIT~1\\K27SIM.EXE"}) {
    const std::wstring line = ServerCommandLine(exe);
    EXPECT_EQ(CommandLineProgram(line), exe);
    EXPECT_EQ(ProgramFileName(line), L"k27sim.exe");
    // COM adds -Embedding to what the registration holds.
    const SimCommand c = ParseCommandLine(ArgumentsOf(line + L" -Embedding"));
    EXPECT_EQ(c.mode, SimMode::kServe) << std::string(line.begin(), line.end());
    EXPECT_EQ(c.bench, L"");
    EXPECT_EQ(c.journal, L"");
  }
}

}  // namespace
