#ifndef K27_SERVER_DEVICE_LISTING_H_
#define K27_SERVER_DEVICE_LISTING_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "server/device_record.h"

// Device states that decide what the listing shows and what may be
// programmed.
constexpr uint16_t kStateHasBootCode = 100;      // above: boot version known
constexpr uint16_t kStateHasSerialNumber = 700;  // above: serial number known
constexpr uint16_t kStateHasLabel = 800;         // above: label known
constexpr uint16_t kStateReadyForCode = 1000;    // at least: programmable
// Above kStateReadyForCode the code version is known.

// The one family this tool programs.
constexpr const char* kDeviceFamily = "K27";

// The device's listing line, without its newline: "Found : " and the family
// name, then what the device state says is known about it.
std::string ListingLine(const DeviceRecord& record);

// Ready for code programming and exactly of the K27 family.
bool IsEligibleDevice(const DeviceRecord& record);

// The eligible record with that serial number; searched from the last entry,
// so of two with one serial number the one listed later is chosen. No
// number (nothing could be read) matches nothing.
const DeviceRecord* FindEligibleDevice(const std::vector<DeviceRecord>& eligible,
                                       std::optional<int32_t> serial_number);

#endif  // K27_SERVER_DEVICE_LISTING_H_
