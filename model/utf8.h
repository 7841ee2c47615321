#ifndef K27_MODEL_UTF8_H_
#define K27_MODEL_UTF8_H_

// UTF-8 as the Unicode standard defines it, written apart from the tool's
// encoder: what the server's UTF-16 names must become on a redirected
// console, and the bench files' text.

#include <string>
#include <string_view>

namespace model {

// One code point below U+110000 that is no surrogate.
void AppendUtf8(std::string& out, char32_t c);

// A surrogate pair is its one character; a surrogate without its partner
// is U+FFFD.
std::string Utf8FromUtf16(std::u16string_view units);

}  // namespace model

#endif  // K27_MODEL_UTF8_H_
