// The native build has no console to guard: no handler, no mode to read.
#include "run/committed_span.h"

namespace {

class NativeConsoleControl : public ConsoleControl {
 public:
  void InstallControlHandler() override {}
  bool ReadInputMode(uint32_t*) override { return false; }
  bool WriteInputMode(uint32_t) override { return false; }
};

}  // namespace

ConsoleControl* DefaultConsoleControl() {
  static NativeConsoleControl control;
  return &control;
}
