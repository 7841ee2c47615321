#include "switch_output.h"

#include <windows.h>

#include <string>

#include "wide_text.h"

namespace {

// A standard handle that leads somewhere: a redirection the program was
// started with (a file or a pipe), or a console it shares.
bool Usable(HANDLE handle) {
  return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

HANDLE StreamHandle(OutputStream stream) {
  static HANDLE handles[2] = {nullptr, nullptr};
  static bool ready = false;
  if (!ready) {
    ready = true;
    handles[0] = GetStdHandle(STD_OUTPUT_HANDLE);
    handles[1] = GetStdHandle(STD_ERROR_HANDLE);
    if (!Usable(handles[0]) || !Usable(handles[1])) {
      // Started from a console window without redirection: a windowless
      // program has no standard handles there, but may join that console.
      HANDLE console = nullptr;
      if (AttachConsole(ATTACH_PARENT_PROCESS)) {
        console = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
      }
      for (HANDLE& handle : handles) {
        if (!Usable(handle)) handle = console;
      }
    }
  }
  return handles[stream == OutputStream::kOut ? 0 : 1];
}

}  // namespace

void WriteText(OutputStream stream, std::string_view text) {
  HANDLE handle = StreamHandle(stream);
  if (!Usable(handle) || text.empty()) return;
  std::string utf8;
  for (char c : text) {
    if (c == '\n') utf8 += '\r';
    utf8 += c;
  }
  DWORD mode = 0;
  if (GetConsoleMode(handle, &mode)) {
    // A console shows the characters themselves, whatever its code page.
    const std::wstring wide = Wide(utf8);
    DWORD wrote = 0;
    WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &wrote, nullptr);
    return;
  }
  size_t done = 0;
  while (done < utf8.size()) {
    DWORD wrote = 0;
    if (!WriteFile(handle, utf8.data() + done, static_cast<DWORD>(utf8.size() - done), &wrote, nullptr) || !wrote) {
      return;
    }
    done += wrote;
  }
}

void WriteLine(OutputStream stream, std::string_view utf8) {
  std::string line(utf8);
  line += '\n';
  WriteText(stream, line);
}
