#include "station_screen.h"

#include "lib/switch_output.h"
#include "lib/wide_text.h"

namespace {

void Write(HANDLE out, const std::wstring& text) {
  DWORD wrote = 0;
  WriteConsoleW(out, text.data(), static_cast<DWORD>(text.size()), &wrote, nullptr);
}

}  // namespace

StationScreen::StationScreen() {
  out_ = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  live_ = out_ != INVALID_HANDLE_VALUE && GetConsoleMode(out_, &mode);
}

void StationScreen::Note(const std::string& utf8) {
  if (!live_) {
    WriteLine(OutputStream::kOut, utf8);
    return;
  }
  Erase();
  Write(out_, Wide(utf8) + L"\r\n");
  Draw();
}

void StationScreen::Show(const std::vector<std::string>& block) {
  if (!live_) return;
  std::vector<std::wstring> wide;
  for (const std::string& line : block) wide.push_back(Wide(line));
  if (wide == block_ && top_ >= 0) return;
  block_ = wide;
  Erase();
  Draw();
}

void StationScreen::Clear() {
  if (!live_) return;
  Erase();
  block_.clear();
}

// Clears the rows the block took and puts the cursor where it began.
void StationScreen::Erase() {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (top_ < 0 || !GetConsoleScreenBufferInfo(out_, &info)) return;
  const COORD start{0, top_};
  DWORD done = 0;
  FillConsoleOutputCharacterW(out_, L' ', static_cast<DWORD>(info.dwSize.X) * shown_, start, &done);
  SetConsoleCursorPosition(out_, start);
  top_ = -1;
  shown_ = 0;
}

// Draws the block at the cursor, each line cut to the window's width so
// that none wraps; where the console scrolls, its first row is where the
// cursor ends less the rows drawn.
void StationScreen::Draw() {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (block_.empty() || !GetConsoleScreenBufferInfo(out_, &info)) return;
  const size_t width = info.dwSize.X > 1 ? static_cast<size_t>(info.dwSize.X) - 1 : 1;
  std::wstring text;
  for (size_t i = 0; i < block_.size(); ++i) {
    text += block_[i].substr(0, width);
    if (i + 1 < block_.size()) text += L"\r\n";
  }
  Write(out_, text);
  if (!GetConsoleScreenBufferInfo(out_, &info)) return;
  shown_ = static_cast<SHORT>(block_.size());
  top_ = static_cast<SHORT>(info.dwCursorPosition.Y - (shown_ - 1));
}
