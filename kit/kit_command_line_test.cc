#include "kit_command_line.h"

#include <gtest/gtest.h>

namespace {

TEST(KitCommandLineTest, ReadsEachCommand) {
  KitCommand c = ParseKitCommandLine({L"qualify", L"C:\\k27kit\\k27prog.exe", L"--junit", L"r.xml", L"--keep",
                                      L"/tmp/kept", L"--only", L"a", L"/only", L"b", L"--Catalogue", L"mine",
                                      L"--stop-at-first-failure"});
  EXPECT_EQ(c.error, L"");
  EXPECT_EQ(c.mode, KitMode::kQualify);
  EXPECT_EQ(c.program, L"C:\\k27kit\\k27prog.exe");
  EXPECT_EQ(c.junit, L"r.xml");
  EXPECT_EQ(c.keep, L"/tmp/kept");  // a path, though it starts with "/"
  EXPECT_EQ(c.only, (std::vector<std::wstring>{L"a", L"b"}));
  EXPECT_EQ(c.catalogues, std::vector<std::wstring>{L"mine"});
  EXPECT_TRUE(c.stop_at_first_failure);
  EXPECT_FALSE(c.list);

  c = ParseKitCommandLine({L"qualify", L"--list"});
  EXPECT_EQ(c.mode, KitMode::kQualify);
  EXPECT_TRUE(c.list);
  EXPECT_EQ(c.program, L"");

  c = ParseKitCommandLine({L"register", L"--per-user", L"--bench", L"b.json", L"--journal", L"j.jsonl", L"/force",
                           L"--state", L"s.json"});
  EXPECT_EQ(c.mode, KitMode::kRegister);
  EXPECT_EQ(c.registration.state, L"s.json");
  EXPECT_EQ(c.registration.scope, RegistrationScope::kUser);
  EXPECT_EQ(c.registration.bench, L"b.json");
  EXPECT_EQ(c.registration.journal, L"j.jsonl");
  EXPECT_TRUE(c.registration.force);

  c = ParseKitCommandLine({L"unregister"});
  EXPECT_EQ(c.mode, KitMode::kUnregister);
  EXPECT_EQ(c.registration.scope, RegistrationScope::kMachine);
  EXPECT_EQ(ParseKitCommandLine({L"check", L"b.json"}).bench_file, L"b.json");
  EXPECT_EQ(ParseKitCommandLine({L"default-bench"}).mode, KitMode::kDefaultBench);
  c = ParseKitCommandLine({L"state", L"runs\\journal.state.json", L"/reset"});
  EXPECT_EQ(c.mode, KitMode::kState);
  EXPECT_EQ(c.state_file, L"runs\\journal.state.json");
  EXPECT_TRUE(c.reset);
  EXPECT_FALSE(ParseKitCommandLine({L"state", L"s.json"}).reset);
  EXPECT_EQ(ParseKitCommandLine({L"HELP"}).mode, KitMode::kHelp);
  EXPECT_EQ(ParseKitCommandLine({}).mode, KitMode::kUsage);
}

TEST(KitCommandLineTest, SaysWhatIsWrong) {
  struct Row {
    std::vector<std::wstring> args;
    const wchar_t* error;
  };
  const Row rows[] = {
      {{L"qualify"}, L"qualify needs the program to qualify (k27prog.exe)"},
      {{L"qualify", L"a.exe", L"b.exe"}, L"qualify takes one program"},
      {{L"qualify", L"a.exe", L"--junit"}, L"--junit needs a value"},
      {{L"qualify", L"a.exe", L"--only", L"--list"}, L"--only needs a value"},
      {{L"qualify", L"a.exe", L"--per-user"}, L"\"--per-user\" is no option of qualify"},
      {{L"check"}, L"check takes one bench file"},
      {{L"state"}, L"state takes one state file"},
      {{L"check", L"b.json", L"--reset"}, L"\"--reset\" is no option of check"},
      {{L"register", L"--bench"}, L"--bench needs a value"},
      {{L"unregister", L"--bench", L"b.json"}, L"\"--bench\" is no option of unregister"},
      {{L"register", L"extra"}, L"unexpected argument \"extra\""},
      {{L"/RegServer"}, L"unknown command \"/RegServer\""},
  };
  for (const Row& row : rows) {
    const KitCommand c = ParseKitCommandLine(row.args);
    EXPECT_EQ(c.mode, KitMode::kUsage);
    EXPECT_EQ(c.error, row.error);
  }
}

}  // namespace
