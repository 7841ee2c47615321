#include "bench/text_encoding.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// UTF-16 of the text (ASCII and \u escapes only), with or without its mark.
std::string Utf16(const std::u16string& text, bool big_endian, bool mark = true) {
  std::string out = mark ? (big_endian ? std::string("\xFE\xFF") : std::string("\xFF\xFE")) : std::string();
  for (char16_t c : text) {
    const char high = static_cast<char>(c >> 8), low = static_cast<char>(c & 0xFF);
    out += big_endian ? std::string{high, low} : std::string{low, high};
  }
  return out;
}

TEST(TextEncodingTest, WhatWindowsProgramsSaveIsRead) {
  const std::string bench = "{\r\n  \"devices\": [{\"label\": \"\xC3\x89tabli \xE6\x96\x87 \xF0\x9F\x98\x80\"}]\r\n}\r\n";
  const std::u16string bench16 =
      u"{\r\n  \"devices\": [{\"label\": \"\u00C9tabli \u6587 \U0001F600\"}]\r\n}\r\n";
  struct Row {
    const char* what;
    std::string bytes;
  } rows[] = {
      {"UTF-8 without a mark (PowerShell 7, most editors)", bench},
      {"UTF-8 with a mark (Notepad's UTF-8 with BOM)", "\xEF\xBB\xBF" + bench},
      {"UTF-16 LE with a mark (PowerShell 5.1's >, Notepad's Unicode)", Utf16(bench16, false)},
      {"UTF-16 BE with a mark", Utf16(bench16, true)},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const DecodedText text = DecodeText(row.bytes);
    EXPECT_TRUE(text.ok) << text.error;
    EXPECT_EQ(text.utf8, bench);
  }
  // An empty file is empty text (which the bench reader then refuses).
  EXPECT_TRUE(DecodeText("").ok);
  EXPECT_EQ(DecodeText("\xFF\xFE").utf8, "");
}

TEST(TextEncodingTest, AnythingElseIsRefusedByName) {
  const std::string remedy = "; save it as UTF-8, or as UTF-16 with a byte-order mark";
  struct Row {
    std::string bytes;
    std::string error;
  } rows[] = {
      {std::string("\xFF\xFE\x00\x00{\x00\x00\x00", 8), "the file is UTF-32 LE (by its byte-order mark)"},
      {std::string("\x00\x00\xFE\xFF\x00\x00\x00{", 8), "the file is UTF-32 BE (by its byte-order mark)"},
      {Utf16(u"{\"devices\": []}", false, false), "the file is UTF-16 LE without a byte-order mark"},
      {Utf16(u"{\"devices\": []}", true, false), "the file is UTF-16 BE without a byte-order mark"},
      {std::string("{\0\0\0}\0\0\0", 8), "the file is UTF-32 LE without a byte-order mark"},
      {std::string("\0\0\0{\0\0\0}", 8), "the file is UTF-32 BE without a byte-order mark"},
      {std::string("{\"devices\": []}\0", 16), "the file is not text: a NUL byte at offset 15"},
      // Notepad's "ANSI": é in Windows-1252.
      {"{\"label\": \"\xE9tabli\"}",
       "the file is not UTF-8: the byte 0xE9 at offset 11 is not UTF-8 there (an ANSI code page such as "
       "Windows-1252 writes such bytes)"},
      {"\xEF\xBB\xBF{\xC0\xAF}", "the file is not UTF-8: the byte 0xC0 at offset 4"},      // overlong '/'
      {"{\xED\xA0\x80}", "the file is not UTF-8: the byte 0xED at offset 1"},              // a surrogate
      {"{\xF4\x90\x80\x80}", "the file is not UTF-8: the byte 0xF4 at offset 1"},          // past U+10FFFF
      {"{\xE6\x96}", "the file is not UTF-8: the byte 0xE6 at offset 1"},                  // cut short
      {"{\x80}", "the file is not UTF-8: the byte 0x80 at offset 1"},                      // a lone follower
      {Utf16(u"{}", false) + "x", "the file is UTF-16 LE with an odd number of bytes (7)"},
      {Utf16(u"{\xD83D}", false), "the file is UTF-16 LE with a surrogate out of its pair at byte 4"},
      {Utf16(u"{\xDE00\xD83D}", true), "the file is UTF-16 BE with a surrogate out of its pair at byte 4"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.error);
    const DecodedText text = DecodeText(row.bytes);
    EXPECT_FALSE(text.ok);
    EXPECT_EQ(text.error.rfind(row.error, 0), 0u) << text.error;
    EXPECT_TRUE(text.error.ends_with(remedy)) << text.error;
  }
}

}  // namespace
