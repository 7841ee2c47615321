// The Windows platform under FatalExit.
#include <conio.h>
#include <objbase.h>

#include <cstdio>
#include <cstdlib>

#include "run/fatal_exit.h"

namespace {

class WindowsExitPlatform : public ExitPlatform {
 public:
  void UninitialiseCom() override { CoUninitialize(); }
  int ReadKey() override {
    // _getch reads the console itself, never standard input; with no console
    // it reports EOF on every call.
    int key = _getch();
    return key == EOF ? kEndOfInput : key;
  }
  [[noreturn]] void EndProcess(int status) override { exit(status); }
};

}  // namespace

ExitPlatform* DefaultExitPlatform() {
  static WindowsExitPlatform platform;
  return &platform;
}
