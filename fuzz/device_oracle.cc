#include "device_oracle.h"

#include <cctype>
#include <cstdio>
#include <vector>

namespace {

constexpr size_t kRecord = 1256;

unsigned Little16(const uint8_t* p) { return p[0] | (p[1] << 8); }
int32_t Little32(const uint8_t* p) {
  return static_cast<int32_t>(uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) |
                              (uint32_t{p[3]} << 24));
}

// Text up to its NUL, or its whole room when it has none.
std::string Text(const uint8_t* p, size_t room) {
  size_t n = 0;
  while (n < room && p[n]) ++n;
  return std::string(reinterpret_cast<const char*>(p), n);
}

std::string Line(const uint8_t* r) {
  const unsigned state = Little16(r + 84);
  std::string line = "Found : " + Text(r + 16, 32);
  char piece[64];
  if (state > 700) {
    snprintf(piece, sizeof piece, "#%04d", Little32(r + 88));
    line += piece;
  } else {
    line += " (NO SERIAL NUMBER)";
  }
  if (state > 800) line += " (" + Text(r + 168, kRecord - 168) + ")";
  if (state > 100) {
    snprintf(piece, sizeof piece, " BootV%u.%u", Little16(r + 48), Little16(r + 50));
    line += piece;
  } else {
    line += " (BAD BOOT CODE)";
  }
  if (state < 1000) line += " NOT READY FOR CODE PROGRAMMING";
  if (state > 1000) {
    snprintf(piece, sizeof piece, " CodeV%u.%u.%u", Little16(r + 160), Little16(r + 162), Little16(r + 164));
    line += piece;
  }
  return line + "\n";
}

}  // namespace

// "%d" over the typed text: white space, a sign, digits; nothing when no
// digit comes or the value does not fit 32 signed bits.
static std::optional<int32_t> ExpectSerialNumber(const std::string& typed) {
  size_t i = 0;
  while (i < typed.size() && std::isspace(static_cast<unsigned char>(typed[i]))) ++i;
  bool negative = false;
  if (i < typed.size() && (typed[i] == '+' || typed[i] == '-')) negative = typed[i++] == '-';
  if (i >= typed.size() || !std::isdigit(static_cast<unsigned char>(typed[i]))) return std::nullopt;
  long long value = 0;
  for (; i < typed.size() && std::isdigit(static_cast<unsigned char>(typed[i])); ++i) {
    value = value * 10 + (typed[i] - '0');
    if (value > 2147483648LL) return std::nullopt;
  }
  if (negative) value = -value;
  if (value > 2147483647LL) return std::nullopt;
  return static_cast<int32_t>(value);
}

DeviceExpectation ExpectDevices(const uint8_t* response, size_t count, const std::string& typed) {
  DeviceExpectation e;
  if (count % kRecord) {
    e.message = "DEVICE DETECT RESPONSE INVALID";
    return e;
  }
  if (count == 0) {
    e.message = "NO DEVICES FOUND";
    return e;
  }
  std::vector<size_t> eligible;
  for (size_t i = 0; i < count / kRecord; ++i) {
    const uint8_t* r = response + i * kRecord;
    e.listing += Line(r);
    if (Little16(r + 84) >= 1000 && Text(r + 16, 32) == "K27") eligible.push_back(i);
  }
  if (eligible.empty()) {
    e.message = "NO DEVICES AVAILABLE TO PROGRAM";
    return e;
  }
  e.prompted = true;
  const std::optional<int32_t> serial = ExpectSerialNumber(typed);
  // The later of two with one serial number.
  for (size_t k = eligible.size(); serial && k-- > 0;) {
    if (Little32(response + eligible[k] * kRecord + 88) == *serial) {
      e.chosen = eligible[k];
      return e;
    }
  }
  e.message = "THAT SERIAL NUMBER IS NOT IN THE LIST OF DEVICES FOUND";
  return e;
}
