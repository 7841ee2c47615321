#include <benchmark/benchmark.h>
#include <zlib.h>

#include "bench.h"
#include "bench_images.h"
#include "image/inflate.h"

namespace {

// Throughput counts the inflated bytes, for both.
void InflateImageOf(benchmark::State& state, const BenchImage* image) {
  const std::vector<uint8_t>& stream = image->compressed;
  for (auto _ : state) {
    CodeBlock block = InflateImage(stream.data(), static_cast<uint32_t>(stream.size()));
    benchmark::DoNotOptimize(block.bytes.get());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(image->code.size()));
}

// Into a buffer allocated each time, as InflateImage allocates its block.
void UncompressOf(benchmark::State& state, const BenchImage* image) {
  const std::vector<uint8_t>& stream = image->compressed;
  for (auto _ : state) {
    uLongf length = image->code.size();
    std::unique_ptr<uint8_t[]> block(new uint8_t[length]);
    if (uncompress(block.get(), &length, stream.data(), stream.size()) != Z_OK) state.SkipWithError("uncompress");
    benchmark::DoNotOptimize(block.get());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(image->code.size()));
}

}  // namespace

BenchPair InflatePair() { return {"InflateImage", InflateImageOf, "uncompress", UncompressOf}; }
