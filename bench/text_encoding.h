#ifndef K27_BENCH_TEXT_ENCODING_H_
#define K27_BENCH_TEXT_ENCODING_H_

// Bench files as Windows programs save them: UTF-8 with or without a
// byte-order mark (Notepad, PowerShell 7), UTF-16 LE with one (Windows
// PowerShell 5.1's ">" and Out-File, Notepad's "Unicode"), UTF-16 BE with
// one. Anything else is refused, naming what the file is as far as its
// bytes tell.

#include <string>
#include <string_view>

struct DecodedText {
  bool ok = false;
  std::string utf8;   // the text, without its byte-order mark
  std::string error;  // what the file is, and what to do, when not ok
};

DecodedText DecodeText(std::string_view bytes);

// The offset of the first byte that is not UTF-8 (overlong forms,
// surrogates and values past U+10FFFF included), or npos.
size_t FirstNonUtf8(std::string_view bytes);

#endif  // K27_BENCH_TEXT_ENCODING_H_
