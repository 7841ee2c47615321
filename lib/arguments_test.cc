#include "lib/arguments.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(ArgumentsTest, ArgumentsSurviveWindowsParsing) {
  const std::wstring texts[] = {
      L"plain", L"", L"with blank", L"C:\\Program Files\\K27 kit\\bench.json", L"a\"b", L"ends in \\",
      L"\\\\server\\share\\bench file.json", L"two\\\\\"quotes\"", L"tab\there", L"\u00e9t\u00e9 \u65e5\u672c"};
  for (const std::wstring& text : texts) {
    const std::vector<std::wstring> args = ArgumentsOf(L"prog.exe " + QuoteArgument(text) + L" next");
    ASSERT_EQ(args.size(), 2u) << std::string(text.begin(), text.end());
    EXPECT_EQ(args[0], text);
    EXPECT_EQ(args[1], L"next");
  }
}

}  // namespace
