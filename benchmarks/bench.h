#ifndef K27_BENCH_BENCH_H_
#define K27_BENCH_BENCH_H_

#include <benchmark/benchmark.h>

#include "bench_images.h"

// One benchmark over one bench image.
using ImageBenchmark = void (*)(benchmark::State& state, const BenchImage* image);

// The tool's operation and its zlib reference over the same bytes, each run
// for every bench image as "<name>/<image>"; both run in the same process,
// so their ratio does not depend on how fast the machine happens to be.
struct BenchPair {
  const char* tool;
  ImageBenchmark run_tool;
  const char* reference;
  ImageBenchmark run_reference;
};

BenchPair ChecksumPair();
BenchPair InflatePair();
BenchPair ValidatePair();

#endif  // K27_BENCH_BENCH_H_
