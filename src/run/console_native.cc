// Standard output of the native build: a byte stream, so wide text goes out
// as UTF-8.
#include <cstdio>
#include <string>

#include "run/console.h"
#include "run/utf8.h"

namespace {

class NativeConsoleSink : public ConsoleSink {
 public:
  void Write(std::string_view text) override { fwrite(text.data(), 1, text.size(), stdout); }
  void WriteWide(std::wstring_view text) override {
    std::string bytes;
    AppendUtf8(bytes, text);
    fwrite(bytes.data(), 1, bytes.size(), stdout);
  }
  void Flush() override { fflush(stdout); }
};

}  // namespace

ConsoleSink* DefaultConsoleSink() {
  static NativeConsoleSink sink;
  return &sink;
}
