#ifndef K27_KIT_STATION_SCREEN_H_
#define K27_KIT_STATION_SCREEN_H_

// What the station shows. On a console: lines that stay (each run's
// outcome, the station's notes) and, below them, a block redrawn in place:
// one line per run in progress (serial, stage, seconds so far), the serials
// waiting, and the line being typed. With standard output redirected to a
// file or a pipe: the lines that stay, plainly, and no block.

#include <windows.h>

#include <string>
#include <vector>

class StationScreen {
 public:
  StationScreen();
  // Whether standard output is a console, where the block is drawn.
  bool live() const { return live_; }
  // A line that stays.
  void Note(const std::string& utf8);
  // The block, below the lines that stay; the cursor ends after its last
  // line's text. Nothing on a redirected output.
  void Show(const std::vector<std::string>& block);
  // The block taken away, the cursor where it began.
  void Clear();

 private:
  void Draw();
  void Erase();

  HANDLE out_ = nullptr;
  bool live_ = false;
  std::vector<std::wstring> block_;
  SHORT top_ = -1;    // the block's first row, while it is shown
  SHORT shown_ = 0;   // rows it takes
};

#endif  // K27_KIT_STATION_SCREEN_H_
