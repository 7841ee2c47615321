#ifndef K27_BENCH_DEVICE_RECORD_H_
#define K27_BENCH_DEVICE_RECORD_H_

// A bench device's record in the detect response: laid out as the server
// lays it out (model/device_record.h), then the bench's patches laid over
// it.

#include <cstdint>
#include <vector>

#include "bench/bench.h"

std::vector<uint8_t> EncodeDeviceRecord(const BenchDevice& device);

#endif  // K27_BENCH_DEVICE_RECORD_H_
