#include "run/utf8.h"

#include <cstdint>
#include <type_traits>

namespace {

constexpr uint32_t kReplacement = 0xFFFD;

bool IsHighSurrogate(uint32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(uint32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

}  // namespace

void AppendUtf8Character(std::string& out, uint32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

void AppendUtf8(std::string& out, std::wstring_view text) {
  out.reserve(out.size() + text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    // Through the unsigned type of the same width: a negative 32-bit
    // wchar_t must not pass for a small character.
    uint32_t c = static_cast<std::make_unsigned_t<wchar_t>>(text[i]);
    if constexpr (sizeof(wchar_t) == 2) {
      if (IsHighSurrogate(c) && i + 1 < text.size() &&
          IsLowSurrogate(static_cast<std::make_unsigned_t<wchar_t>>(text[i + 1]))) {
        const uint32_t low = static_cast<std::make_unsigned_t<wchar_t>>(text[++i]);
        AppendUtf8Character(out, 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00));
        continue;
      }
    }
    if (IsHighSurrogate(c) || IsLowSurrogate(c) || c > 0x10FFFF) c = kReplacement;
    AppendUtf8Character(out, c);
  }
}
