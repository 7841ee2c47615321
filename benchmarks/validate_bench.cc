#include <benchmark/benchmark.h>
#include <zlib.h>

#include <string_view>

#include "bench.h"
#include "bench_images.h"
#include "image/validate_image.h"
#include "run/console.h"

namespace {

// The release line goes nowhere.
class DiscardingSink : public ConsoleSink {
 public:
  void Write(std::string_view) override {}
  void WriteWide(std::wstring_view) override {}
  void Flush() override {}
};

void ValidateImageOf(benchmark::State& state, const BenchImage* image) {
  DiscardingSink sink;
  ConsoleSink* previous = SetConsoleSink(&sink);
  const std::vector<uint8_t>& code = image->code;
  for (auto _ : state) benchmark::DoNotOptimize(ValidateImage(code.data(), static_cast<uint32_t>(code.size())));
  SetConsoleSink(previous);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(code.size()));
}

// What the checks cannot do without: one checksum pass over the code block
// and one over the profile block inside it.
void Crc32CodeAndProfile(benchmark::State& state, const BenchImage* image) {
  const std::vector<uint8_t>& code = image->code;
  const ProfileView profile = CheckImage(code.data(), static_cast<uint32_t>(code.size())).profile;
  for (auto _ : state) {
    benchmark::DoNotOptimize(crc32(0, code.data(), static_cast<uInt>(code.size())));
    benchmark::DoNotOptimize(crc32(0, code.data() + profile.offset, profile.length));
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(code.size()));
}

}  // namespace

BenchPair ValidatePair() { return {"ValidateImage", ValidateImageOf, "crc32+profile", Crc32CodeAndProfile}; }
