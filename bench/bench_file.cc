#include "bench/bench_file.h"

#include <windows.h>

#include "bench/bench.h"
#include "bench/text_encoding.h"
#include "lib/long_path.h"
#include "lib/reject.h"
#include "lib/wide_text.h"

// The whole file; false when it cannot be read (or is over 64 MB).
static bool ReadWholeFile(const std::wstring& path, std::string& text) {
  HANDLE file = CreateFileW(PathForFileCalls(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size;
  bool ok = GetFileSizeEx(file, &size) && size.QuadPart < (64 << 20);
  if (ok) {
    text.resize(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    ok = text.empty() || (ReadFile(file, text.data(), static_cast<DWORD>(text.size()), &read, nullptr) &&
                          read == text.size());
  }
  CloseHandle(file);
  return ok;
}

bool ReadBenchText(const std::wstring& path, std::string& utf8, std::string& error) {
  std::string bytes;
  if (!ReadWholeFile(path, bytes)) return Reject(error, "cannot be read");
  DecodedText text = DecodeText(bytes);
  if (!text.ok) return Reject(error, text.error);
  utf8 = std::move(text.utf8);
  return true;
}

BenchVerdict CheckBenchFile(const std::wstring& path) {
  BenchVerdict verdict;
  std::string text, error;
  if (!ReadBenchText(path, text, error)) {
    verdict.line = Utf8(path) + ": " + error;
    return verdict;
  }
  try {
    const Bench bench = ParseBench(text);
    verdict.ok = true;
    verdict.line = Utf8(path) + ": a bench of " + std::to_string(bench.devices.size()) +
                   " device(s), server version " + std::to_string(bench.version_major) + "." +
                   std::to_string(bench.version_minor);
  } catch (const BenchError& e) {
    verdict.line = Utf8(path) + ": " + e.what();
  }
  return verdict;
}
