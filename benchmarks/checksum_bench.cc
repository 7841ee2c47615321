#include <benchmark/benchmark.h>
#include <zlib.h>

#include "bench.h"
#include "bench_images.h"
#include "image/checksum.h"

namespace {

void BlockChecksumOver(benchmark::State& state, const BenchImage* image) {
  const std::vector<uint8_t>& block = image->code;
  for (auto _ : state) benchmark::DoNotOptimize(BlockChecksum(block.data(), block.size() / 4));
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(block.size()));
}

// zlib's CRC-32 is another polynomial's, reflected, but the same work: one
// table-driven pass over every byte.
void ZlibCrc32Over(benchmark::State& state, const BenchImage* image) {
  const std::vector<uint8_t>& block = image->code;
  for (auto _ : state) benchmark::DoNotOptimize(crc32(0, block.data(), static_cast<uInt>(block.size())));
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(block.size()));
}

}  // namespace

BenchPair ChecksumPair() { return {"BlockChecksum", BlockChecksumOver, "crc32", ZlibCrc32Over}; }
