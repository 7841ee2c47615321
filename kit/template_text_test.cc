#include "template_text.h"

#include <gtest/gtest.h>

namespace {

TemplateValues Values() {
  return {{"release", {false, 0, "1.1.5(1)"}}, {"min_boot_branch", {true, 1, {}}}, {"code_size", {true, 142180, {}}}};
}

TEST(TemplateTextTest, ExpandsNamesArithmeticAndBraces) {
  struct Row {
    const char* text;
    const char* expanded;  // or, when refused, the reason
    bool refused = false;
  };
  const Row rows[] = {
      {"Ready to program K27 firmware release {release}", "Ready to program K27 firmware release 1.1.5(1)"},
      {"BootV{min_boot_branch-1}.65535", "BootV0.65535"},
      {"{min_boot_branch+1}", "2"},
      {"{code_size-142180}", "0"},
      {"no placeholder", "no placeholder"},
      {"{{literal}}", "{literal}"},
      {"{release+1}", "\"release\" is a text: nothing can be added to it", true},
      {"{unknown}", "no value is called \"unknown\"", true},
      {"{min_boot_branch", "{min_boot_branch"},
      {"brace } alone", "brace } alone"},
      {"{min_boot_branch*2}", "{min_boot_branch*2}"},
      {"{}", "{}"},
      {"{7ADC3EE4-226F-4F84-82F7-20444C1F8C16}", "{7ADC3EE4-226F-4F84-82F7-20444C1F8C16}"},
      {"{{release}}", "{release}"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    std::string out, error;
    EXPECT_EQ(ExpandText(row.text, Values(), out, error), !row.refused) << error;
    EXPECT_EQ(row.refused ? error : out, row.expanded);
  }
}

TEST(TemplateTextTest, AWholePlaceholderOfANumberBecomesANumber) {
  const nlohmann::json in = {{"boot_branch", "{min_boot_branch-1}"},
                             {"label", "rig {min_boot_branch}"},
                             {"list", {"{code_size}", 7, "{profile_array}"}},
                             {"name", "{release}"}};
  nlohmann::json out;
  std::string error;
  ASSERT_TRUE(ExpandJson(in, Values(), out, error, {"profile_array"})) << error;
  EXPECT_EQ(out["boot_branch"], 0);
  EXPECT_TRUE(out["boot_branch"].is_number());
  EXPECT_EQ(out["label"], "rig 1");
  EXPECT_EQ(out["list"], nlohmann::json({142180, 7, "{profile_array}"}));
  EXPECT_EQ(out["name"], "1.1.5(1)");
  EXPECT_FALSE(ExpandJson(nlohmann::json{{"x", "{profile_array}"}}, Values(), out, error));
  EXPECT_EQ(error, "no value is called \"profile_array\"");
}

TEST(TemplateTextTest, LinesMatchWithElapsedTimes) {
  struct Row {
    const char* pattern;
    const char* line;
    bool matches;
  };
  const Row rows[] = {
      {"Code flash program ... complete ({secs}secs)", "Code flash program ... complete (1.815secs)", true},
      {"Code flash program ... complete ({secs}secs)", "Code flash program ... complete (12.333secs)", true},
      {"Code flash program ... complete ({secs}secs)", "Code flash program ... complete (1.81secs)", false},
      {"Code flash program ... complete ({secs}secs)", "Code flash program ... complete (1.8150secs)", false},
      {"Code flash program ... complete ({secs}secs)", "Code flash program ... complete (.815secs)", false},
      {"Code flash program ... complete ({secs}secs)", "Code flash program ... complete", false},
      {"Ready to program K27 firmware release {release}", "Ready to program K27 firmware release 1.1.5(1)", true},
      {"Ready to program K27 firmware release {release}", "Ready to program K27 firmware release 1.1.5(1) ", false},
      {"Ready to program K27 firmware release {release}", "Ready to program K27 firmware release 1.1.5", false},
      {"PROGRAMMING SUCCESSFUL", "PROGRAMMING SUCCESSFUL", true},
      {"PROGRAMMING SUCCESSFUL", "PROGRAMMING SUCCESSFUL!", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.pattern) + " / " + row.line);
    std::string error;
    EXPECT_EQ(MatchLine(row.pattern, row.line, Values(), error), row.matches);
    EXPECT_EQ(error, "");
  }
  std::string error;
  EXPECT_FALSE(MatchLine("{nothing}", "x", Values(), error));
  EXPECT_EQ(error, "no value is called \"nothing\"");
}

}  // namespace
