#ifndef K27_BENCH_BENCH_H_
#define K27_BENCH_BENCH_H_

// Each set registers, for every bench image, the tool's operation as
// "<operation>/<image>" and its zlib reference over the same bytes as
// "<reference>/<image>"; both run in the same process, so their ratio does
// not depend on how fast the machine happens to be.
void RegisterChecksumBenchmarks();
void RegisterInflateBenchmarks();
void RegisterValidateBenchmarks();

#endif  // K27_BENCH_BENCH_H_
