#include "bench/device_record.h"

#include <algorithm>
#include <cstring>

#include "image/byte_order.h"

namespace {

// Text fills its room; it is NUL-terminated only when it leaves room for
// the NUL, so a bench can hand out an unterminated name on purpose.
void PutText(std::vector<uint8_t>& record, uint32_t offset, uint32_t room, const std::string& text) {
  const size_t length = std::min<size_t>(text.size(), room);
  std::memcpy(record.data() + offset, text.data(), length);
  if (length < room) record[offset + length] = 0;
}

}  // namespace

std::vector<uint8_t> EncodeDeviceRecord(const BenchDevice& device) {
  std::vector<uint8_t> record(kDeviceRecordSize, 0);
  uint8_t* r = record.data();
  WriteLittle32(r + 0, device.locator);
  WriteLittle32(r + 4, device.endpoint_first);
  WriteLittle16(r + 8, device.endpoint_second);
  WriteLittle32(r + 12, device.group_id);
  PutText(record, kFamilyOffset, kFamilyRoom, device.family);
  WriteLittle16(r + 48, device.boot_branch);
  WriteLittle16(r + 50, device.boot_version);
  WriteLittle16(r + 84, device.state);
  WriteLittle32(r + 88, static_cast<uint32_t>(device.serial));
  WriteLittle16(r + 92, device.identity_scope);
  WriteLittle16(r + 94, device.identity_qualifier);
  WriteLittle16(r + 160, device.code_version[0]);
  WriteLittle16(r + 162, device.code_version[1]);
  WriteLittle16(r + 164, device.code_version[2]);
  PutText(record, kLabelOffset, kDeviceRecordSize - kLabelOffset, device.label);
  for (const RecordPatch& patch : device.patches) {
    std::copy(patch.bytes.begin(), patch.bytes.end(), record.begin() + patch.offset);
  }
  return record;
}
