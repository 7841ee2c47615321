// k27_bench: the image code's costs beside zlib's, then the ratios.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>

#include "bench.h"
#include "bench_images.h"

namespace {

// Keeps each benchmark's CPU time per iteration (the fastest of its
// repetitions) while printing as usual. CPU time, not wall time: on a
// shared machine the wall clock counts other processes' turns too.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
      const double seconds = run.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
      auto [at, fresh] = seconds_.emplace(run.benchmark_name(), seconds);
      if (!fresh && seconds < at->second) at->second = seconds;
    }
  }

  const std::map<std::string, double>& seconds() const { return seconds_; }

 private:
  std::map<std::string, double> seconds_;
};

struct Pair {
  const char* tool;
  const char* reference;
};

const Pair kPairs[] = {
    {"BlockChecksum", "crc32"},
    {"InflateImage", "uncompress"},
    {"ValidateImage", "crc32+profile"},
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RegisterChecksumBenchmarks();
  RegisterInflateBenchmarks();
  RegisterValidateBenchmarks();
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  // Time of the tool's operation over the reference's, over the same bytes.
  printf("\n%-14s %-14s %-8s %12s %12s %8s\n", "operation", "reference", "image", "tool MB/s", "zlib MB/s",
         "ratio");
  const auto& seconds = reporter.seconds();
  for (const Pair& pair : kPairs) {
    for (const BenchImage& image : BenchImages()) {
      auto tool = seconds.find(std::string(pair.tool) + "/" + image.name);
      auto reference = seconds.find(std::string(pair.reference) + "/" + image.name);
      if (tool == seconds.end() || reference == seconds.end()) continue;
      const double mb = image.code.size() / 1e6;
      printf("%-14s %-14s %-8s %12.1f %12.1f %7.2fx\n", pair.tool, pair.reference, image.name.c_str(),
             mb / tool->second, mb / reference->second, tool->second / reference->second);
    }
  }
  return 0;
}
