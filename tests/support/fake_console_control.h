#ifndef K27_SUPPORT_FAKE_CONSOLE_CONTROL_H_
#define K27_SUPPORT_FAKE_CONSOLE_CONTROL_H_

// A console under the committed span that records what the span asks of it.

#include <cstdint>
#include <string>
#include <vector>

#include "run/committed_span.h"

class FakeConsoleControl : public ConsoleControl {
 public:
  FakeConsoleControl();  // installed at once: the span starts afresh
  ~FakeConsoleControl() override;
  void InstallControlHandler() override;
  bool ReadInputMode(uint32_t* mode) override;
  bool WriteInputMode(uint32_t mode) override;

  // The console input: Windows' default mode for a console (Quick Edit on);
  // `readable` false is a console whose mode cannot be read.
  uint32_t mode = 0x1F7;
  bool readable = true;
  bool writable = true;

  // Every call in order: "install", "read", "write 0x1b7" (the mode in
  // hex), each with the recording console's length at that moment (npos
  // with none).
  struct Call {
    std::string what;
    size_t at;
  };
  std::vector<Call> calls;
  std::vector<std::string> Names() const;

 private:
  void Record(std::string what);
  ConsoleControl* previous_;
};

#endif  // K27_SUPPORT_FAKE_CONSOLE_CONTROL_H_
