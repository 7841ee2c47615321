#include "run/console.h"

#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <string>

namespace {

class StdoutSink : public ConsoleSink {
 public:
  void Write(std::string_view text) override {
    fwrite(text.data(), 1, text.size(), stdout);
  }
  void WriteWide(std::wstring_view text) override {
#ifdef _WIN32
    // Wide text goes through the C run-time's own conversion, as wprintf's
    // would, so narrow and wide lines share one stream.
    for (wchar_t c : text) fputwc(c, stdout);
#else
    // A byte-oriented stream takes no wide output here: write UTF-8.
    for (wchar_t wc : text) {
      unsigned long c = static_cast<unsigned long>(wc);
      char out[4];
      size_t n = 0;
      if (c < 0x80) {
        out[n++] = static_cast<char>(c);
      } else if (c < 0x800) {
        out[n++] = static_cast<char>(0xC0 | (c >> 6));
        out[n++] = static_cast<char>(0x80 | (c & 0x3F));
      } else if (c < 0x10000) {
        out[n++] = static_cast<char>(0xE0 | (c >> 12));
        out[n++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out[n++] = static_cast<char>(0x80 | (c & 0x3F));
      } else {
        out[n++] = '?';
      }
      fwrite(out, 1, n, stdout);
    }
#endif
  }
  void Flush() override { fflush(stdout); }
};

StdoutSink g_stdout_sink;
ConsoleSink* g_sink = &g_stdout_sink;

}  // namespace

ConsoleSink* SetConsoleSink(ConsoleSink* sink) {
  ConsoleSink* old = g_sink;
  g_sink = sink ? sink : &g_stdout_sink;
  return old;
}

void PrintText(const char* text) { g_sink->Write(text); }

void PrintLine(const char* text) {
  g_sink->Write(text);
  g_sink->Write("\n");
}

void PrintFormat(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  char small[256];
  int n = vsnprintf(small, sizeof small, format, args);
  va_end(args);
  if (n < 0) {
    va_end(again);
    return;
  }
  if (static_cast<size_t>(n) < sizeof small) {
    g_sink->Write(std::string_view(small, n));
  } else {
    std::string big(static_cast<size_t>(n) + 1, '\0');
    vsnprintf(big.data(), big.size(), format, again);
    g_sink->Write(std::string_view(big.data(), n));
  }
  va_end(again);
}

void PrintWideFormat(const wchar_t* format, ...) {
  // Grows until the whole line fits: vswprintf gives no length on overflow.
  std::wstring buffer(256, L'\0');
  for (;;) {
    va_list args;
    va_start(args, format);
    int n = vswprintf(buffer.data(), buffer.size(), format, args);
    va_end(args);
    if (n >= 0) {
      g_sink->WriteWide(std::wstring_view(buffer.data(), n));
      return;
    }
    if (buffer.size() > (1u << 20)) return;  // not a formatting we can do
    buffer.resize(buffer.size() * 4);
  }
}

void FlushOutput() { g_sink->Flush(); }
