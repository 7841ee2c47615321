// Standard output of the native build: a byte stream, wide text as UTF-8.
#include "run/console.h"

ConsoleSink* DefaultConsoleSink() {
  static StdoutSink sink;
  return &sink;
}
