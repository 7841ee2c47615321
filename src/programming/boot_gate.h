#ifndef K27_PROGRAMMING_BOOT_GATE_H_
#define K27_PROGRAMMING_BOOT_GATE_H_

#include <cstdint>

#include "server/device_record.h"

// Whether a device's boot code can run this code: its boot branch and boot
// version (from the device record, host order) against the code header's
// minimum boot branch and version (big-endian). Ordered branch first, then
// version; all unsigned 16-bit.
enum class BootCodeGate {
  kPasses,
  kBranchTooLow,
  kVersionTooLow,
};

// Where the code header's minimum sits.
constexpr uint32_t kCodeMinimumBootBranch = 80;
constexpr uint32_t kCodeMinimumBootVersion = 82;

BootCodeGate CompareBootCode(uint16_t branch, uint16_t version, uint16_t minimum_branch,
                             uint16_t minimum_version);

// The gate over the chosen device record and the code block's header.
BootCodeGate CheckBootCode(const DeviceRecord& device, const uint8_t* code_block);

#endif  // K27_PROGRAMMING_BOOT_GATE_H_
