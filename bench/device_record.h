#ifndef K27_BENCH_DEVICE_RECORD_H_
#define K27_BENCH_DEVICE_RECORD_H_

// The 1256-byte device record as the server lays it out in the detect
// response: little-endian fields at fixed offsets, the rest zero.

#include <cstdint>
#include <vector>

#include "bench/bench.h"

constexpr uint32_t kDeviceRecordSize = 1256;
constexpr uint32_t kFamilyOffset = 16;
constexpr uint32_t kFamilyRoom = 32;
constexpr uint32_t kLabelOffset = 168;

std::vector<uint8_t> EncodeDeviceRecord(const BenchDevice& device);

#endif  // K27_BENCH_DEVICE_RECORD_H_
