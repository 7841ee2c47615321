#ifndef K27_RUN_CONSOLE_H_
#define K27_RUN_CONSOLE_H_

#include <string_view>

// Everything the tool shows goes to standard output through these calls, so
// that tests see exactly what an operator sees, flushes included.

// Text with no newline added.
void PrintText(const char* text);
// Text followed by a newline (as puts does).
void PrintLine(const char* text);
// printf-style narrow text.
void PrintFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The one wide-character line of the tool: the format uses %ls for wide
// strings.
void PrintWideFormat(const wchar_t* format, ...);
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

// Installs a sink (tests); null restores standard output. Returns the old one.
ConsoleSink* SetConsoleSink(ConsoleSink* sink);

#endif  // K27_RUN_CONSOLE_H_
