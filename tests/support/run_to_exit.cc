#include "support/run_to_exit.h"

#include "run/committed_span.h"
#include "support/fake_console_control.h"

FakeExitPlatform::FakeExitPlatform() : previous_(SetExitPlatform(this)) {}
FakeExitPlatform::~FakeExitPlatform() { SetExitPlatform(previous_); }

void FakeExitPlatform::UninitialiseCom() {
  ++uninitialise_calls;
  if (console) uninitialised_at = console->text.size();
}

int FakeExitPlatform::ReadKey() {
  if (++keys_read == 1 && console) flushes_at_first_key = console->flushes;
  if (holding_scan_code_) {
    holding_scan_code_ = false;
    return held_scan_code_;
  }
  if (presses_read_ == keys.size()) return kEndOfInput;
  const KeyPress& press = keys[presses_read_++];
  holding_scan_code_ = press.two_part;
  held_scan_code_ = press.scan_code;
  return press.code;
}

bool FakeExitPlatform::ScanCodeWaiting() { return holding_scan_code_; }

void FakeExitPlatform::EndProcess(int status) { throw ProcessEnded{status}; }

Outcome RunToExit(const std::function<void()>& body) {
  RecordingConsole console;
  FakeExitPlatform platform;
  platform.console = &console;
  FakeConsoleControl control;
  Outcome outcome;
  try {
    body();
  } catch (const ProcessEnded& end) {
    outcome.ended = true;
    outcome.status = end.status;
  }
  outcome.text = console.text;
  outcome.console_control = control.Names();
  outcome.ctrl_c_ignored = ControlEventIgnored(kCtrlCEvent);
  if (outcome.ended) {
    const std::string tail = "\nPress space to exit\n";
    std::string& t = outcome.text;
    if (t.size() >= tail.size() && t.compare(t.size() - tail.size(), tail.size(), tail) == 0) {
      size_t end = t.size() - tail.size();
      size_t nl = end == 0 ? std::string::npos : t.rfind('\n', end - 1);
      size_t start = nl == std::string::npos ? 0 : nl + 1;
      // A message that completes an open progress line shares its line:
      // the message is what follows the last " ... ".
      std::string line = t.substr(start, end - start);
      size_t dots = line.rfind(" ... ");
      outcome.message = dots == std::string::npos ? line : line.substr(dots + 5);
    }
  }
  return outcome;
}
