#include "model/device_record.h"

#include <algorithm>

namespace model {

namespace {

void PutText(std::vector<uint8_t>& record, size_t at, size_t room, const std::string& text) {
  std::copy_n(text.begin(), std::min(text.size(), room), record.begin() + static_cast<std::ptrdiff_t>(at));
}

}  // namespace

void PutLittle(uint8_t* p, size_t width, uint32_t value) {
  for (size_t i = 0; i < width; ++i, value >>= 8) p[i] = static_cast<uint8_t>(value);
}

std::vector<uint8_t> EncodeDeviceRecord(const DeviceFields& d) {
  std::vector<uint8_t> record(kDeviceRecordSize, 0);
  uint8_t* r = record.data();
  PutLittle(r + kLocatorAt, 4, d.locator);
  PutLittle(r + kEndpointFirstAt, 4, d.endpoint_first);
  PutLittle(r + kEndpointSecondAt, 2, d.endpoint_second);
  PutLittle(r + kGroupIdAt, 4, d.group_id);
  PutText(record, kFamilyAt, kFamilyRoom, d.family);
  PutLittle(r + kBootBranchAt, 2, d.boot_branch);
  PutLittle(r + kBootVersionAt, 2, d.boot_version);
  PutLittle(r + kStateAt, 2, d.state);
  PutLittle(r + kSerialAt, 4, static_cast<uint32_t>(d.serial));
  PutLittle(r + kIdentityScopeAt, 2, d.identity_scope);
  PutLittle(r + kIdentityQualifierAt, 2, d.identity_qualifier);
  for (size_t i = 0; i < 3; ++i) PutLittle(r + kDeviceCodeVersionAt + 2 * i, 2, d.code_version[i]);
  PutText(record, kLabelAt, kDeviceRecordSize - kLabelAt, d.label);
  return record;
}

}  // namespace model
