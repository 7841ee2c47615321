// The Windows platform under FatalExit.
#include <conio.h>
#include <objbase.h>

#include <cstdio>
#include <cstdlib>

#include "run/fatal_exit.h"

namespace {

// What ScanCodeWaiting pushes back to ask; never a space or a prefix.
constexpr int kProbe = 'x';

class WindowsExitPlatform : public ExitPlatform {
 public:
  void UninitialiseCom() override { CoUninitialize(); }
  int ReadKey() override {
    // _getch reads the console itself, never standard input; with no console
    // it reports EOF on every call. Windows' run-time gives a character as
    // an unsigned byte of the console's code page; Wine's gives one above
    // 0x7F as a negative value (and 0xFF as EOF, which cannot be told
    // apart): taken as the byte, as on Windows.
    int key = _getch();
    return key == EOF ? kEndOfInput : key & 0xFF;
  }
  bool ScanCodeWaiting() override {
    // _getch keeps a two-part key's scan code in msvcrt.dll's
    // one-character push-back buffer, and _ungetch refuses exactly when
    // that buffer is full. (The Universal C Runtime keeps three, where this
    // would always answer no: the build checks that the tool takes both
    // from msvcrt.dll. _kbhit answers yes for any key waiting in the
    // console as well, a space typed ahead included.) A probe that was
    // taken is taken back at once: _getch returns a pushed-back character
    // without reading the console.
    if (_ungetch(kProbe) == EOF) return true;
    _getch();
    return false;
  }
  [[noreturn]] void EndProcess(int status) override { exit(status); }
};

}  // namespace

ExitPlatform* DefaultExitPlatform() {
  static WindowsExitPlatform platform;
  return &platform;
}
