#include "run/console.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "run/utf8.h"

void StdoutSink::Write(std::string_view text) { fwrite(text.data(), 1, text.size(), stdout); }

void StdoutSink::WriteWide(std::wstring_view text) {
  std::string bytes;
  AppendUtf8(bytes, text);
  fwrite(bytes.data(), 1, bytes.size(), stdout);
}

void StdoutSink::Flush() { fflush(stdout); }

namespace {
ConsoleSink* g_sink = nullptr;  // null: the build's own

ConsoleSink* Sink() { return g_sink ? g_sink : DefaultConsoleSink(); }
}  // namespace

ConsoleSink* SetConsoleSink(ConsoleSink* sink) {
  ConsoleSink* old = Sink();
  g_sink = sink;
  return old;
}

void PrintText(const char* text) { Sink()->Write(text); }

void PrintLine(const char* text) {
  Sink()->Write(text);
  Sink()->Write("\n");
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
    Sink()->Write(std::string_view(small, n));
  } else {
    std::string big(static_cast<size_t>(n) + 1, '\0');
    vsnprintf(big.data(), big.size(), format, again);
    Sink()->Write(std::string_view(big.data(), n));
  }
  va_end(again);
}

void PrintWideText(std::wstring_view text) { Sink()->WriteWide(text); }

void FlushOutput() { Sink()->Flush(); }
