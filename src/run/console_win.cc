// Standard output on Windows. Narrow text goes through the C run-time's
// stdout. The wide line's names come from the server and may hold any
// character: the C run-time's own conversion (the "C" locale) would drop
// what lies beyond Latin-1 and send Latin-1 letters as bytes that the
// console shows in its OEM code page. So a console gets the characters
// themselves (WriteConsoleW, whatever the code page), and a file or a pipe
// gets UTF-8 through the same stdout as the narrow text, so text mode turns
// "\n" into CRLF as on every other line and an ASCII line keeps its bytes.
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <string>

#include "run/console.h"

namespace {

// Older consoles refuse a single write of more than about 64 KB; a pair of
// surrogates is never split between two writes.
constexpr size_t kConsoleWriteUnits = 8192;

bool IsHighSurrogate(wchar_t c) { return c >= 0xD800 && c <= 0xDBFF; }

// The console under a C stream, or null when it goes to a file or a pipe.
HANDLE StreamConsole(FILE* stream) {
  const int fd = _fileno(stream);
  if (fd < 0) return nullptr;
  const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  DWORD mode = 0;
  if (handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode)) return nullptr;
  return handle;
}

void WriteToConsole(HANDLE console, std::wstring_view text) {
  while (!text.empty()) {
    size_t units = text.size() < kConsoleWriteUnits ? text.size() : kConsoleWriteUnits;
    if (units < text.size() && IsHighSurrogate(text[units - 1])) --units;
    DWORD written = 0;
    if (!WriteConsoleW(console, text.data(), static_cast<DWORD>(units), &written, nullptr) || written == 0) {
      return;  // as a failed write to stdout: nothing to be done about it
    }
    text.remove_prefix(written < units ? written : units);
  }
}

class WindowsConsoleSink : public StdoutSink {
 public:
  void WriteWide(std::wstring_view text) override {
    if (HANDLE console = StreamConsole(stdout)) {
      fflush(stdout);  // what the C run-time still holds comes first
      WriteToConsole(console, text);
    } else {
      StdoutSink::WriteWide(text);
    }
  }
};

}  // namespace

ConsoleSink* DefaultConsoleSink() {
  static WindowsConsoleSink sink;
  return &sink;
}

void WriteUtf8(FILE* stream, std::string_view utf8) {
  HANDLE console = StreamConsole(stream);
  if (!console || utf8.empty()) {
    fwrite(utf8.data(), 1, utf8.size(), stream);
    return;
  }
  const int size = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(size > 0 ? size : 0), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), size);
  fflush(stream);  // what the C run-time still holds comes first
  WriteToConsole(console, wide);
}
