// The native build has no COM and no console key read: the core's tools end
// at once with their status.
#include <cstdlib>

#include "run/fatal_exit.h"

namespace {

class NativeExitPlatform : public ExitPlatform {
 public:
  void UninitialiseCom() override {}
  int ReadKey() override { return kEndOfInput; }
  bool ScanCodeWaiting() override { return false; }
  [[noreturn]] void EndProcess(int status) override { exit(status); }
};

}  // namespace

ExitPlatform* DefaultExitPlatform() {
  static NativeExitPlatform platform;
  return &platform;
}
