#include "server/serial_number.h"

namespace {

bool IsSpace(int c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(int c) { return c >= '0' && c <= '9'; }

}  // namespace

std::optional<int32_t> ReadSerialNumber(const SerialInput& next) {
  int c = next();
  while (IsSpace(c)) c = next();
  bool negative = false;
  if (c == '+' || c == '-') {
    negative = c == '-';
    c = next();
  }
  if (!IsDigit(c)) return std::nullopt;
  // Accumulated as a magnitude; past the largest one it stops growing, but
  // the digits are still read to the number's end.
  constexpr int64_t kLargestMagnitude = int64_t{INT32_MAX} + 1;
  int64_t magnitude = 0;
  bool too_large = false;
  for (; IsDigit(c); c = next()) {
    if (!too_large) {
      magnitude = magnitude * 10 + (c - '0');
      if (magnitude > kLargestMagnitude) too_large = true;
    }
  }
  if (too_large) return std::nullopt;
  int64_t value = negative ? -magnitude : magnitude;
  if (value > INT32_MAX) return std::nullopt;
  return static_cast<int32_t>(value);
}

std::optional<int32_t> ParseSerialNumber(std::string_view text) {
  size_t at = 0;
  return ReadSerialNumber([&]() -> int {
    if (at >= text.size()) return kEndOfSerialInput;
    return static_cast<unsigned char>(text[at++]);
  });
}
