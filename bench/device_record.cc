#include "bench/device_record.h"

#include <algorithm>

std::vector<uint8_t> EncodeDeviceRecord(const BenchDevice& device) {
  std::vector<uint8_t> record = model::EncodeDeviceRecord(device);
  for (const RecordPatch& patch : device.patches) {
    std::copy(patch.bytes.begin(), patch.bytes.end(), record.begin() + patch.offset);
  }
  return record;
}
