#ifndef K27_LIB_WIDE_TEXT_H_
#define K27_LIB_WIDE_TEXT_H_

#include <string>

// Windows' wide text and UTF-8, both ways.
std::string Utf8(const std::wstring& text);
std::wstring Wide(const std::string& utf8);

#endif  // K27_LIB_WIDE_TEXT_H_
