#include "record_file.h"

#include "lib/com_text.h"
#include "lib/long_path.h"
#include "lib/reject.h"

RecordFile::~RecordFile() {
  if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
}

bool RecordFile::Open(const std::wstring& path, std::string& held, std::string& error) {
  // FILE_APPEND_DATA without FILE_WRITE_DATA: every write lands at the end,
  // whatever the file pointer says.
  file_ = CreateFileW(PathForFileCalls(path).c_str(), GENERIC_READ | FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file_ == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    return Reject(error, code == ERROR_SHARING_VIOLATION ? "it is open in another program (another station writing it?)"
                                                         : SystemErrorText(code));
  }
  held.clear();
  char buffer[1 << 16];
  DWORD got = 0;
  while (ReadFile(file_, buffer, sizeof buffer, &got, nullptr) && got > 0) held.append(buffer, got);
  return true;
}

bool RecordFile::Append(const std::string& line, std::string& error) {
  std::lock_guard<std::mutex> held(lock_);
  size_t done = 0;
  while (done < line.size()) {
    DWORD wrote = 0;
    if (!WriteFile(file_, line.data() + done, static_cast<DWORD>(line.size() - done), &wrote, nullptr) || !wrote)
      return Reject(error, SystemErrorText(GetLastError()));
    done += wrote;
  }
  if (!FlushFileBuffers(file_)) return Reject(error, SystemErrorText(GetLastError()));
  return true;
}
