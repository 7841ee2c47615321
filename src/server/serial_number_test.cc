#include "server/serial_number.h"

#include <gtest/gtest.h>

namespace {

TEST(SerialNumberTest, ReadsAsPercentDWouldWithinThirtyTwoBits) {
  struct Row {
    const char* text;
    std::optional<int32_t> value;
  } rows[] = {
      {"42\n", 42},
      {"0042\n", 42},
      {"  \t\r\n 7\r\n", 7},
      {"+15", 15},
      {"-3", -3},
      {"123456abc", 123456},
      {"42 43", 42},
      {"2147483647", INT32_MAX},
      {"-2147483648", INT32_MIN},
      {"0000000000002147483647", INT32_MAX},
      {"2147483648", std::nullopt},
      {"-2147483649", std::nullopt},
      {"99999999999999999999999999", std::nullopt},
      {"4294967338", std::nullopt},  // 42 modulo 2^32: must not wrap to 42
      {"", std::nullopt},
      {"   \n", std::nullopt},
      {"abc", std::nullopt},
      {"-", std::nullopt},
      {"+ 5", std::nullopt},
      {"--5", std::nullopt},
      {"x42", std::nullopt},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(ParseSerialNumber(row.text), row.value) << '"' << row.text << '"';
  }
}

TEST(SerialNumberTest, StopsReadingAfterTheNumber) {
  // The console hands over a line at a time: the read must end at the
  // number's end, not wait for more input.
  std::string text = "  42\nmore";
  size_t at = 0;
  auto next = [&]() -> int { return at < text.size() ? text[at++] : kEndOfSerialInput; };
  EXPECT_EQ(ReadSerialNumber(next), 42);
  EXPECT_EQ(at, 5u);
  // A high byte is not white space or a digit.
  EXPECT_EQ(ParseSerialNumber("\xA0" "42"), std::nullopt);
}

}  // namespace
