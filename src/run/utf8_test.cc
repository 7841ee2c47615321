#include "run/utf8.h"

#include <gtest/gtest.h>

namespace {

// Wide text from its characters: UTF-16 units where wchar_t is 16 bits (as
// a BSTR holds them), one element per character where it is 32 bits.
std::wstring Wide(std::initializer_list<char32_t> characters) {
  std::wstring text;
  for (char32_t c : characters) {
    if (sizeof(wchar_t) == 2 && c >= 0x10000) {
      text += static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10));
      text += static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      text += static_cast<wchar_t>(c);
    }
  }
  return text;
}

TEST(Utf8Test, EveryWidthOfCharacter) {
  struct Row {
    std::wstring text;
    std::string utf8;
  } rows[] = {
      {L"", ""},
      {L"Operator", "Operator"},
      {Wide({0x7F, 0x80}), "\x7F\xC2\x80"},
      {L"Ing\u00E9nieur", "Ing\xC3\xA9nieur"},
      {Wide({0x7FF, 0x800}), "\xDF\xBF\xE0\xA0\x80"},
      {L"\u20AC \u03A9", "\xE2\x82\xAC \xCE\xA9"},
      {L"\u65E5\u672C", "\xE6\x97\xA5\xE6\x9C\xAC"},
      {Wide({0xD7FF, 0xE000, 0xFFFF}), "\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBF"},
      // Beyond the 16-bit range: a surrogate pair in a BSTR.
      {Wide({0x10000}), "\xF0\x90\x80\x80"},
      {Wide({'a', 0x1F600, 'b'}), "a\xF0\x9F\x98\x80" "b"},
      {Wide({0x10FFFF}), "\xF4\x8F\xBF\xBF"},
      {Wide({0}), std::string(1, '\0')},
  };
  for (const Row& row : rows) {
    std::string out = "<";
    AppendUtf8(out, row.text);
    EXPECT_EQ(out, "<" + row.utf8) << row.utf8;
  }
}

TEST(Utf8Test, SurrogatesWithoutTheirPartnerBecomeReplacementCharacters) {
  const std::string r = "\xEF\xBF\xBD";
  struct Row {
    std::wstring text;
    std::string utf8;
  } rows[] = {
      {Wide({0xD800}), r},
      {Wide({0xDBFF, 'x'}), r + "x"},
      {Wide({0xDC00}), r},
      {Wide({'x', 0xDFFF}), "x" + r},
      // A low unit before its high one is two strays, not a pair.
      {Wide({0xDE00, 0xD83D}), r + r},
      // Pairs are a UTF-16 thing: 32-bit text holding surrogates holds strays.
      {Wide({0xD83D, 0xD83D, 0xDE00}), sizeof(wchar_t) == 2 ? r + "\xF0\x9F\x98\x80" : r + r + r},
  };
  for (const Row& row : rows) {
    std::string out;
    AppendUtf8(out, row.text);
    EXPECT_EQ(out, row.utf8);
  }
  if constexpr (sizeof(wchar_t) == 4) {
    // Values no character has.
    std::string out;
    AppendUtf8(out, std::wstring{static_cast<wchar_t>(0x110000), static_cast<wchar_t>(-1)});
    EXPECT_EQ(out, r + r);
  }
}

}  // namespace
