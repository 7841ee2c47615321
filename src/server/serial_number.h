#ifndef K27_SERVER_SERIAL_NUMBER_H_
#define K27_SERVER_SERIAL_NUMBER_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

// The next input character (0 to 255), or kEndOfSerialInput.
using SerialInput = std::function<int()>;
constexpr int kEndOfSerialInput = -1;

// Reads one signed decimal number as "%d" would: white space skipped, an
// optional sign, then digits up to the first character that is not one
// (that character is consumed). Gives no number when the input ends first,
// when no digit follows, or when the value does not fit 32 signed bits.
std::optional<int32_t> ReadSerialNumber(const SerialInput& next);

// The same over a whole text.
std::optional<int32_t> ParseSerialNumber(std::string_view text);

#endif  // K27_SERVER_SERIAL_NUMBER_H_
