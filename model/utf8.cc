#include "model/utf8.h"

namespace model {

void AppendUtf8(std::string& out, char32_t c) {
  // 7 bits fit one byte; each continuation byte carries 6 more, and the
  // lead byte says how many follow.
  const int more = c < 0x80 ? 0 : c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
  static const unsigned char kLead[] = {0x00, 0xC0, 0xE0, 0xF0};
  out.push_back(static_cast<char>(kLead[more] | (c >> (6 * more))));
  for (int shift = 6 * (more - 1); shift >= 0; shift -= 6) {
    out.push_back(static_cast<char>(0x80 | ((c >> shift) & 0x3F)));
  }
}

std::string Utf8FromUtf16(std::u16string_view units) {
  std::string out;
  size_t i = 0;
  while (i < units.size()) {
    const char32_t unit = units[i++];
    const bool lead = (unit & 0xFC00) == 0xD800, trail = (unit & 0xFC00) == 0xDC00;
    if (lead && i < units.size() && (units[i] & 0xFC00) == 0xDC00) {
      AppendUtf8(out, 0x10000 + ((unit & 0x3FF) << 10 | (units[i++] & 0x3FF)));
    } else {
      AppendUtf8(out, lead || trail ? 0xFFFD : unit);
    }
  }
  return out;
}

}  // namespace model
