#ifndef K27_BENCH_RESPONSE_H_
#define K27_BENCH_RESPONSE_H_

// The arrays the server hands out, as plain bytes before they become safe
// arrays: the detect response and a device's identity list, each in its
// natural form or bent into the shape the bench asks for.

#include <cstdint>
#include <vector>

#include "bench/bench.h"

struct ArrayContents {
  bool null = false;
  uint16_t vartype = kVtUi1;
  int32_t lower_bound = 0;
  uint32_t count = 0;         // elements
  std::vector<uint8_t> data;  // count * ElementSize(vartype) bytes, little-endian
};

// A device's record: laid out as the server lays it out
// (model/device_record.h), then the bench's patches laid over it.
std::vector<uint8_t> EncodeDeviceRecord(const BenchDevice& device);

// Every device record in order.
ArrayContents DetectResponse(const Bench& bench);

// The 16-bit elements of the device's identity list: its triples in order,
// or the elements the bench gives instead.
std::vector<uint16_t> IdentityElements(const BenchDevice& device);

// Those elements as the server hands them out, in the shape's own form.
ArrayContents IdentityList(const BenchDevice& device);

#endif  // K27_BENCH_RESPONSE_H_
