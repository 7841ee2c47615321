#include "support/fake_console_control.h"

#include <cstdio>

#include "support/recording_console.h"

FakeConsoleControl::FakeConsoleControl() : previous_(SetConsoleControl(this)) {}
FakeConsoleControl::~FakeConsoleControl() { SetConsoleControl(previous_); }

void FakeConsoleControl::Record(std::string what) {
  const RecordingConsole* console = CurrentRecordingConsole();
  calls.push_back({std::move(what), console ? console->text.size() : std::string::npos});
}

void FakeConsoleControl::InstallControlHandler() { Record("install"); }

bool FakeConsoleControl::ReadInputMode(uint32_t* value) {
  Record("read");
  if (!readable) return false;
  *value = mode;
  return true;
}

bool FakeConsoleControl::WriteInputMode(uint32_t value) {
  char text[32];
  snprintf(text, sizeof text, "write 0x%x", static_cast<unsigned>(value));
  Record(text);
  if (!writable) return false;
  mode = value;
  return true;
}

std::vector<std::string> FakeConsoleControl::Names() const {
  std::vector<std::string> names;
  for (const Call& call : calls) names.push_back(call.what);
  return names;
}
