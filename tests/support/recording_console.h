#ifndef K27_SUPPORT_RECORDING_CONSOLE_H_
#define K27_SUPPORT_RECORDING_CONSOLE_H_

// A console that records what the operator would see, for the unit tests.

#include <functional>
#include <string>
#include <vector>

#include "run/console.h"

// Records every text; wide text as UTF-8 (as a redirected stream gets it). Flushes are kept as the offsets
// in the transcript at which they happened.
class RecordingConsole : public ConsoleSink {
 public:
  RecordingConsole();
  ~RecordingConsole() override;
  void Write(std::string_view text) override;
  void WriteWide(std::wstring_view text) override;
  void Flush() override;

  std::string text;
  std::vector<size_t> flushes;
  // Called at each flush (a fake server can look at the console then).
  std::function<void()> on_flush;

 private:
  ConsoleSink* previous_;
};

// The recording console installed now, or null.
RecordingConsole* CurrentRecordingConsole();

#endif  // K27_SUPPORT_RECORDING_CONSOLE_H_
