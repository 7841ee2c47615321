#ifndef K27_KIT_RECORD_FILE_H_
#define K27_KIT_RECORD_FILE_H_

// The station's record file on disk: opened once for appending, made when
// missing, shared with readers only (a second station on the same file is
// refused), and every line appended whole and flushed to the disk before
// Append returns, so that a station killed or a PC losing power a moment
// later leaves the line in the file.

#include <windows.h>

#include <mutex>
#include <string>

class RecordFile {
 public:
  ~RecordFile();
  // False, with the system's reason, when the file cannot be opened for
  // appending; else `held` is what it holds already.
  bool Open(const std::wstring& path, std::string& held, std::string& error);
  // Safe to call from several threads: lines never interleave.
  bool Append(const std::string& line, std::string& error);

 private:
  HANDLE file_ = INVALID_HANDLE_VALUE;
  std::mutex lock_;
};

#endif  // K27_KIT_RECORD_FILE_H_
