#include "support/recording_console.h"

#include "run/utf8.h"

RecordingConsole::RecordingConsole() : previous_(SetConsoleSink(this)) {}
RecordingConsole::~RecordingConsole() { SetConsoleSink(previous_); }

void RecordingConsole::Write(std::string_view t) { text.append(t); }

void RecordingConsole::WriteWide(std::wstring_view t) { AppendUtf8(text, t); }

void RecordingConsole::Flush() {
  flushes.push_back(text.size());
  if (on_flush) on_flush();
}

RecordingConsole* CurrentRecordingConsole() {
  ConsoleSink* sink = SetConsoleSink(nullptr);
  SetConsoleSink(sink);
  return dynamic_cast<RecordingConsole*>(sink);
}
