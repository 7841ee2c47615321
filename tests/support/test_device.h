#ifndef K27_SUPPORT_TEST_DEVICE_H_
#define K27_SUPPORT_TEST_DEVICE_H_

// Device records for the tests, laid out by the model (model/), never by
// the tool's own offsets, so that a field the tool misreads shows.

#include <algorithm>
#include <vector>

#include "model/device_record.h"
#include "server/device_record.h"

struct TestDevice : model::DeviceFields {
  TestDevice() {
    locator = 0x11223344;
    endpoint_first = 0x55667788;
    endpoint_second = 0x99AA;
    group_id = 0xCAFEF00D;
    family = "K27";
    boot_branch = 1;
    boot_version = 3;
    state = 1200;
    serial = 42;
    identity_scope = 0x0102;
    identity_qualifier = 0x0304;
    code_version[0] = 2;
    code_version[1] = 1;
    code_version[2] = 7;
    label = "Bench";
  }
};

inline DeviceRecord BuildDeviceRecord(const TestDevice& d) {
  const std::vector<uint8_t> bytes = model::EncodeDeviceRecord(d);
  DeviceRecord r;
  std::copy(bytes.begin(), bytes.end(), r.bytes);
  return r;
}

#endif  // K27_SUPPORT_TEST_DEVICE_H_
