#include "station_input.h"

#include <gtest/gtest.h>

namespace {

using Lines = std::vector<std::string>;

// Every line the pieces give, in order, and what came at the end.
Lines Read(const std::vector<std::string>& pieces) {
  InputLines input;
  Lines all;
  for (const std::string& piece : pieces) {
    for (std::string& line : input.Feed(piece)) all.push_back(line + "|");
  }
  for (std::string& line : input.Finish()) all.push_back(line + "$");
  return all;
}

TEST(StationInputTest, SplitsLinesAsTheyCome) {
  struct Row {
    std::vector<std::string> pieces;
    Lines lines;  // "|": handed on as it came, "$": at the end
  };
  const std::string utf16 = std::string("\xFF\xFE" "4\0" "2\0" "\r\0" "\n\0" "\xE9\0" "5\0", 14);
  const Row rows[] = {
      {{"42\r\n57\n", "108"}, {"42|", "57|", "108$"}},
      {{"42\r", "\n57\r", "\r\n"}, {"42|", "57|", "|"}},  // a CR alone ends a line; its LF may come later
      {{"42\r"}, {"42$"}},
      {{"\xEF", "\xBB", "\xBF" "42\n"}, {"42|"}},         // UTF-8's mark, in pieces
      {{"\xEF\xBB" "x\n"}, {"\xEF\xBB" "x|"}},           // no mark after all: the bytes as they are
      {{utf16.substr(0, 1), utf16.substr(1, 4), utf16.substr(5)}, {"42|", "\xC3\xA9" "5$"}},
      {{std::string("\xFF\xFE" "\x00\xD8" "\n\0", 6)}, {"\xEF\xBF\xBD|"}},  // a lone surrogate
      {{"0042 \t\n\n"}, {"0042 \t|", "|"}},
      {{""}, {}},
  };
  for (const Row& row : rows) EXPECT_EQ(Read(row.pieces), row.lines) << row.pieces.front();
}

}  // namespace
