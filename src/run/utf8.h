#ifndef K27_RUN_UTF8_H_
#define K27_RUN_UTF8_H_

#include <cstdint>
#include <string>
#include <string_view>

// Appends wide text as UTF-8. Where wchar_t is 16 bits (Windows) the text is
// UTF-16: a surrogate pair becomes its one character. A surrogate without its
// partner, or a value that is no character, becomes U+FFFD, so the bytes are
// always UTF-8 whatever the server sent.
void AppendUtf8(std::string& out, std::wstring_view text);

// Appends one character (a code point up to U+10FFFF, no surrogate) as UTF-8.
void AppendUtf8Character(std::string& out, uint32_t c);

#endif  // K27_RUN_UTF8_H_
