#ifndef K27_FUZZ_DEVICE_ORACLE_H_
#define K27_FUZZ_DEVICE_ORACLE_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

// What detection and the operator's choice must show and conclude for a
// detect response and a typed entry, worked out here on its own terms from
// the record layout, so that the fuzzer can hold the tool's run against it.
struct DeviceExpectation {
  std::string listing;            // every listing line, each with its newline
  const char* message = nullptr;  // the run's end, or null when a device is chosen
  bool prompted = false;          // the serial number was asked for
  size_t chosen = 0;              // the chosen record's index in the response
};

DeviceExpectation ExpectDevices(const uint8_t* response, size_t count, const std::string& typed);

#endif  // K27_FUZZ_DEVICE_ORACLE_H_
