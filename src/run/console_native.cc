// Standard output of the native build: a byte stream, wide text as UTF-8.
#include "run/console.h"

ConsoleSink* DefaultConsoleSink() {
  static StdoutSink sink;
  return &sink;
}

void WriteUtf8(FILE* stream, std::string_view utf8) { fwrite(utf8.data(), 1, utf8.size(), stream); }
