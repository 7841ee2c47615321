#ifndef K27_KIT_STATION_INPUT_H_
#define K27_KIT_STATION_INPUT_H_

// Serial numbers as they reach the station's standard input from a file or
// a pipe, one a line, as they come: lines end in LF, CRLF or CR (a scanner's
// Enter). A file that starts with UTF-8's byte-order mark loses it; one that
// starts with UTF-16 LE's (what Windows PowerShell 5.1's ">" writes) is read
// as UTF-16 and its lines handed on as UTF-8. Other bytes are handed on as
// they are: the tool reads the bytes it is given.

#include <string>
#include <string_view>
#include <vector>

class InputLines {
 public:
  // The lines these bytes complete.
  std::vector<std::string> Feed(std::string_view bytes);
  // At the end of the input: its last line, when it had no line end.
  std::vector<std::string> Finish();

 private:
  std::vector<std::string> Lines(bool at_end);

  std::string pending_;
  bool decided_ = false, utf16_ = false;
};

#endif  // K27_KIT_STATION_INPUT_H_
