// k27_input_mode_of PID: the input mode of the console that process PID runs
// in, as "0x1f7", read through a console of that process's own (Windows lets
// a process attach to another's console). Tests read the running tool's mode
// with it.

#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: k27_input_mode_of PID\n");
    return 2;
  }
  // Standard output stays where it was (a pipe); only the console changes.
  FreeConsole();
  if (!AttachConsole(std::strtoul(argv[1], nullptr, 10))) {
    std::fprintf(stderr, "cannot attach to the console of %s: error %lu\n", argv[1], GetLastError());
    return 1;
  }
  const HANDLE input = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_EXISTING, 0, nullptr);
  DWORD mode = 0;
  if (input == INVALID_HANDLE_VALUE || !GetConsoleMode(input, &mode)) {
    std::fprintf(stderr, "cannot read the console input's mode: error %lu\n", GetLastError());
    return 1;
  }
  std::printf("0x%lx\n", mode);
  return 0;
}
