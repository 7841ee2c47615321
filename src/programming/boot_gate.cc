#include "programming/boot_gate.h"

#include "image/byte_order.h"

BootCodeGate CompareBootCode(uint16_t branch, uint16_t version, uint16_t minimum_branch,
                             uint16_t minimum_version) {
  if (branch < minimum_branch) return BootCodeGate::kBranchTooLow;
  // A later branch runs any code of an earlier one, whatever its version.
  if (branch == minimum_branch && version < minimum_version) return BootCodeGate::kVersionTooLow;
  return BootCodeGate::kPasses;
}

BootCodeGate CheckBootCode(const DeviceRecord& device, const uint8_t* code_block) {
  return CompareBootCode(DeviceBootBranch(device), DeviceBootVersion(device),
                         ReadBig16(code_block + kCodeMinimumBootBranch),
                         ReadBig16(code_block + kCodeMinimumBootVersion));
}
