#ifndef K27_BENCH_BENCH_IMAGES_H_
#define K27_BENCH_BENCH_IMAGES_H_

#include <cstdint>
#include <string>
#include <vector>

// The images the benchmarks run over: the shipped one, and larger ones made
// from it (its body repeated, its end field and checksum mended) that pass
// every image check like the shipped one.
struct BenchImage {
  std::string name;                 // "shipped", "1MB", "16MB"
  std::vector<uint8_t> compressed;  // one zlib stream
  std::vector<uint8_t> code;        // the inflated code block
};

// Built once, on first use.
const std::vector<BenchImage>& BenchImages();

#endif  // K27_BENCH_BENCH_IMAGES_H_
