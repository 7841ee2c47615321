// k27_bench: the image code's costs beside zlib's, then the ratios.

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <map>
#include <string>

#include "bench.h"
#include "bench_images.h"

namespace {

// Keeps each benchmark's CPU time per iteration while printing as usual:
// the median of its repetitions when there are several, else its one run.
// CPU time, not wall time: on a shared machine the wall clock counts other
// processes' turns too.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  explicit RatioReporter(OutputOptions options) : ConsoleReporter(options) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      if (run.run_type != Run::RT_Iteration && !median) continue;
      const double seconds = run.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
      Kept& kept = kept_[run.run_name.str()];
      if (median || !kept.median) kept.seconds = seconds;
      kept.median = kept.median || median;
    }
  }

  // Seconds per iteration, or 0 when the benchmark did not run.
  double Seconds(const std::string& name) const {
    auto at = kept_.find(name);
    return at == kept_.end() ? 0 : at->second.seconds;
  }

 private:
  struct Kept {
    double seconds = 0;
    bool median = false;
  };
  std::map<std::string, Kept> kept_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  const BenchPair pairs[] = {ChecksumPair(), InflatePair(), ValidatePair()};
  for (const BenchPair& pair : pairs) {
    for (const BenchImage& image : BenchImages()) {
      benchmark::RegisterBenchmark((std::string(pair.tool) + "/" + image.name).c_str(), pair.run_tool, &image);
      benchmark::RegisterBenchmark((std::string(pair.reference) + "/" + image.name).c_str(), pair.run_reference,
                                   &image);
    }
  }
  RatioReporter reporter(isatty(fileno(stdout)) ? benchmark::ConsoleReporter::OO_Defaults
                                                : benchmark::ConsoleReporter::OO_Tabular);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  // Time of the tool's operation over the reference's, over the same bytes.
  printf("\n%-14s %-14s %-8s %12s %12s %10s\n", "operation", "reference", "image", "tool MB/s", "zlib MB/s",
         "tool/zlib");
  for (const BenchPair& pair : pairs) {
    for (const BenchImage& image : BenchImages()) {
      const double tool = reporter.Seconds(std::string(pair.tool) + "/" + image.name);
      const double reference = reporter.Seconds(std::string(pair.reference) + "/" + image.name);
      if (tool <= 0 || reference <= 0) continue;
      const double mb = image.code.size() / 1e6;
      printf("%-14s %-14s %-8s %12.1f %12.1f %9.2fx\n", pair.tool, pair.reference, image.name.c_str(),
             mb / tool, mb / reference, tool / reference);
    }
  }
  return 0;
}
