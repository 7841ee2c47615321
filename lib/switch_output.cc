#include "lib/switch_output.h"

#include <windows.h>

#include <string>

#include "lib/wide_text.h"

namespace {

// A standard handle that leads somewhere.
bool Usable(HANDLE handle) {
  return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

// A redirection the program was started with: a file or a pipe.
bool Redirected(HANDLE handle) {
  if (!Usable(handle)) return false;
  const DWORD type = GetFileType(handle);
  return type == FILE_TYPE_DISK || type == FILE_TYPE_PIPE;
}

HANDLE StreamHandle(OutputStream stream) {
  static HANDLE handles[2] = {nullptr, nullptr};
  static bool ready = false;
  if (!ready) {
    ready = true;
    handles[0] = GetStdHandle(STD_OUTPUT_HANDLE);
    handles[1] = GetStdHandle(STD_ERROR_HANDLE);
    if (!Redirected(handles[0]) || !Redirected(handles[1])) {
      // Started from a console window without redirection: a windowless
      // program is attached to no console, and what standard handles it may
      // have inherited need not write there, so it joins its parent's
      // console. Where it cannot, it keeps whatever handles it was given.
      if (AttachConsole(ATTACH_PARENT_PROCESS)) {
        HANDLE console = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_EXISTING, 0, nullptr);
        for (HANDLE& handle : handles) {
          if (!Redirected(handle) && Usable(console)) handle = console;
        }
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
