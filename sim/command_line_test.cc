#include "command_line.h"
#include "lib/arguments.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string Shown(const std::vector<std::wstring>& args) {
  std::wstring shown;
  for (const std::wstring& a : args) shown += a + L" ";
  return std::string(shown.begin(), shown.end());
}

TEST(CommandLineTest, Switches) {
  using M = SimMode;
  using S = RegistrationScope;
  struct Row {
    std::vector<std::wstring> args;
    M mode;
    S scope;
    std::wstring bench, journal;
    bool force;
  } rows[] = {
      {{L"/RegServer"}, M::kRegister, S::kMachine, L"", L"", false},
      {{L"-regserver", L"/force"}, M::kRegister, S::kMachine, L"", L"", true},
      {{L"-RegServerPerUser", L"/bench", L"C:\\b.json"}, M::kRegister, S::kUser, L"C:\\b.json", L"", false},
      {{L"/journal", L"j.jsonl", L"/REGSERVER"}, M::kRegister, S::kMachine, L"", L"j.jsonl", false},
      {{L"/UnregServer"}, M::kUnregister, S::kMachine, L"", L"", false},
      {{L"-UNREGSERVERPERUSER"}, M::kUnregister, S::kUser, L"", L"", false},
      // As COM starts it: the registration's arguments, then -Embedding.
      {{L"/bench", L"C:\\a b\\b.json", L"/journal", L"C:\\j.jsonl", L"-Embedding"}, M::kServe, S::kMachine,
       L"C:\\a b\\b.json", L"C:\\j.jsonl", false},
      {{L"/Embedding"}, M::kServe, S::kMachine, L"", L"", false},
      {{}, M::kUsage, S::kMachine, L"", L"", false},
      {{L"/?"}, M::kUsage, S::kMachine, L"", L"", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << "args: " << Shown(row.args));
    const SimCommand c = ParseCommandLine(row.args);
    EXPECT_EQ(c.mode, row.mode);
    EXPECT_EQ(c.error, L"");
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

// Each mistake is a usage error that names it, never a guess.
TEST(CommandLineTest, MistakesAreNamed) {
  const std::wstring with_registering = L"/bench, /journal, /state and /force go with /RegServer";
  struct Row {
    std::vector<std::wstring> args;
    std::wstring error;
  } rows[] = {
      {{L"/RegServer", L"/UnregServer"}, L"more than one of the switches /UnregServer"},
      {{L"/RegServer", L"/bench"}, L"/bench needs a file"},
      {{L"/RegServer", L"/bench", L"/journal", L"j"}, L"/bench needs a file"},
      {{L"/RegServer", L"/bench", L"a", L"/bench", L"b"}, L"/bench given twice"},
      {{L"/UnregServer", L"/force"}, with_registering + L" or /RegServerPerUser only"},
      {{L"/UnregServerPerUser", L"/journal", L"j"}, with_registering + L" or /RegServerPerUser only"},
      {{L"/bench", L"b.json"}, with_registering},
      {{L"/force"}, with_registering},
      {{L"/state", L"s.json"}, with_registering},
      {{L"/RegServer", L"-Embedding"}, L"-Embedding is for COM alone"},
      {{L"bench.json"}, L"unexpected argument \"bench.json\""},
      {{L"/RegServe"}, L"unknown switch /RegServe"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << "args: " << Shown(row.args));
    const SimCommand c = ParseCommandLine(row.args);
    EXPECT_EQ(c.mode, SimMode::kUsage);
    EXPECT_EQ(c.error, row.error);
  }
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
