#ifndef K27_RUN_CONSOLE_H_
#define K27_RUN_CONSOLE_H_

#include <cstdio>
#include <string_view>

// Everything the tool shows goes to standard output through these calls, so
// that tests see exactly what an operator sees, flushes included.

// Text with no newline added.
void PrintText(const char* text);
// Text followed by a newline (as puts does).
void PrintLine(const char* text);
// printf-style narrow text.
void PrintFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Wide text with no newline added: the one wide line of the tool, whose
// names come from the device server, of any length and any characters.
void PrintWideText(std::wstring_view text);
// Explicit flush of standard output, before the tool waits on something.
void FlushOutput();

// Where the text goes. The default writes to standard output.
class ConsoleSink {
 public:
  virtual ~ConsoleSink() = default;
  virtual void Write(std::string_view text) = 0;
  virtual void WriteWide(std::wstring_view text) = 0;
  virtual void Flush() = 0;
};

// Standard output as a byte stream through the C run-time: narrow text as it
// is, wide text as UTF-8.
class StdoutSink : public ConsoleSink {
 public:
  void Write(std::string_view text) override;
  void WriteWide(std::wstring_view text) override;
  void Flush() override;
};

// Installs a sink (tests); null restores standard output. Returns the old one.
ConsoleSink* SetConsoleSink(ConsoleSink* sink);

// Supplied by the build: standard output on the platform the tool runs on
// (console_win.cc, console_native.cc).
ConsoleSink* DefaultConsoleSink();

// UTF-8 text to a C stream (stdout or stderr), for the tools' own messages,
// which may name files in any script: on a Windows console the characters
// themselves, to a file or a pipe the bytes as they are.
void WriteUtf8(FILE* stream, std::string_view utf8);

#endif  // K27_RUN_CONSOLE_H_
