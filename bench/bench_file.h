#ifndef K27_BENCH_BENCH_FILE_H_
#define K27_BENCH_BENCH_FILE_H_

// Bench files on disk.

#include <string>

// A bench file's text as UTF-8, from any encoding text_encoding.h reads;
// false with the reason when it cannot be read or is in another encoding.
bool ReadBenchText(const std::wstring& path, std::string& utf8, std::string& error);

struct BenchVerdict {
  bool ok = false;
  // "FILE: a bench of N device(s), server version X.Y", or what is wrong.
  std::string line;
};

// What k27kit check says of a bench file (and what registration refuses).
BenchVerdict CheckBenchFile(const std::wstring& path);

#endif  // K27_BENCH_BENCH_FILE_H_
