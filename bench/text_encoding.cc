#include "bench/text_encoding.h"

#include <cstdint>
#include <cstdio>

#include "model/utf8.h"

namespace {

constexpr char kRemedy[] = "; save it as UTF-8, or as UTF-16 with a byte-order mark";

DecodedText Refuse(const std::string& what) { return {false, {}, "the file is " + what + kRemedy}; }

bool StartsWith(std::string_view bytes, std::string_view prefix) { return bytes.substr(0, prefix.size()) == prefix; }

std::string Hex(uint8_t byte) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", byte);
  return text;
}

}  // namespace

size_t FirstNonUtf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    const uint8_t b = static_cast<uint8_t>(s[i]);
    size_t length = 0;
    uint8_t low = 0x80, high = 0xBF;  // the second byte's range
    if (b < 0x80) {
      ++i;
      continue;
    } else if (b >= 0xC2 && b <= 0xDF) {
      length = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
      length = 3;
      if (b == 0xE0) low = 0xA0;
      if (b == 0xED) high = 0x9F;  // no surrogates
    } else if (b >= 0xF0 && b <= 0xF4) {
      length = 4;
      if (b == 0xF0) low = 0x90;
      if (b == 0xF4) high = 0x8F;  // nothing past U+10FFFF
    } else {
      return i;
    }
    if (i + length > s.size()) return i;
    for (size_t k = 1; k < length; ++k) {
      const uint8_t c = static_cast<uint8_t>(s[i + k]);
      if (c < (k == 1 ? low : 0x80) || c > (k == 1 ? high : 0xBF)) return i;
    }
    i += length;
  }
  return std::string_view::npos;
}

namespace {

// UTF-16 after its two-byte mark.
DecodedText FromUtf16(std::string_view bytes, bool big_endian) {
  const std::string name = big_endian ? "UTF-16 BE" : "UTF-16 LE";
  if (bytes.size() % 2) return Refuse(name + " with an odd number of bytes (" + std::to_string(bytes.size()) + ")");
  DecodedText text{true, {}, {}};
  auto unit = [&](size_t at) -> uint32_t {
    const uint8_t a = static_cast<uint8_t>(bytes[at]), b = static_cast<uint8_t>(bytes[at + 1]);
    return big_endian ? (a << 8 | b) : (b << 8 | a);
  };
  for (size_t at = 2; at < bytes.size(); at += 2) {
    uint32_t c = unit(at);
    if (c >= 0xD800 && c <= 0xDBFF && at + 3 < bytes.size() && unit(at + 2) >= 0xDC00 && unit(at + 2) <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (unit(at + 2) - 0xDC00);
      at += 2;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      return Refuse(name + " with a surrogate out of its pair at byte " + std::to_string(at));
    }
    model::AppendUtf8(text.utf8, c);
  }
  return text;
}

}  // namespace

DecodedText DecodeText(std::string_view bytes) {
  // UTF-32 LE's mark begins with UTF-16 LE's: it is looked for first. Other
  // encodings are named by the bytes that are not UTF-8.
  if (StartsWith(bytes, std::string_view("\xFF\xFE\x00\x00", 4))) return Refuse("UTF-32 LE (by its byte-order mark)");
  if (StartsWith(bytes, std::string_view("\x00\x00\xFE\xFF", 4))) return Refuse("UTF-32 BE (by its byte-order mark)");
  if (StartsWith(bytes, "\xFF\xFE")) return FromUtf16(bytes, false);
  if (StartsWith(bytes, "\xFE\xFF")) return FromUtf16(bytes, true);
  const bool marked = StartsWith(bytes, "\xEF\xBB\xBF");
  const std::string_view body = marked ? bytes.substr(3) : bytes;
  // JSON text holds no NUL: zeros beside most characters are UTF-16 or
  // UTF-32 saved without a mark.
  if (!marked && body.find('\0') != std::string_view::npos) {
    const size_t first = body.find('\0');
    size_t even = 0, odd = 0;
    for (size_t i = 0; i < body.size(); ++i) {
      if (body[i] == '\0') ++(i % 2 ? odd : even);
    }
    const bool many = (even + odd) * 4 >= body.size();
    if (many && body.size() >= 4 && body.substr(0, 3) == std::string_view("\0\0\0", 3)) {
      return Refuse("UTF-32 BE without a byte-order mark");
    }
    if (many && body.size() >= 4 && body[0] != '\0' && body.substr(1, 3) == std::string_view("\0\0\0", 3)) {
      return Refuse("UTF-32 LE without a byte-order mark");
    }
    // Most characters of a bench are ASCII: their zero byte is the high one.
    if (many && odd >= 3 * even) return Refuse("UTF-16 LE without a byte-order mark");
    if (many && even >= 3 * odd) return Refuse("UTF-16 BE without a byte-order mark");
    return Refuse("not text: a NUL byte at offset " + std::to_string(first));
  }
  const size_t bad = FirstNonUtf8(body);
  if (bad != std::string_view::npos) {
    return Refuse("not UTF-8: the byte " + Hex(static_cast<uint8_t>(body[bad])) + " at offset " +
                  std::to_string(bad + (marked ? 3 : 0)) +
                  " is not UTF-8 there (an ANSI code page such as Windows-1252 writes such bytes)");
  }
  return {true, std::string(body), {}};
}
