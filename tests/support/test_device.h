#ifndef K27_SUPPORT_TEST_DEVICE_H_
#define K27_SUPPORT_TEST_DEVICE_H_

// Device records for the tests, laid out field by field as the server
// lays them out.

#include <cstring>
#include <string>

#include "image/byte_order.h"
#include "server/device_record.h"

struct TestDevice {
  uint32_t locator = 0x11223344;
  uint32_t endpoint_first = 0x55667788;
  uint16_t endpoint_second = 0x99AA;
  uint32_t group_id = 0xCAFEF00D;
  std::string family = "K27";  // written as is: a 32-byte name has no NUL
  uint16_t boot_branch = 1;
  uint16_t boot_version = 3;
  uint16_t state = 1200;
  int32_t serial = 42;
  uint16_t scope = 0x0102;
  uint16_t qualifier = 0x0304;
  uint16_t code[3] = {2, 1, 7};
  std::string label = "Bench";  // written as is, up to the record's end
};

inline DeviceRecord BuildDeviceRecord(const TestDevice& d) {
  DeviceRecord r;
  std::memset(r.bytes, 0, sizeof r.bytes);
  WriteLittle32(r.bytes + kLocatorOffset, d.locator);
  WriteLittle32(r.bytes + kEndpointFirstOffset, d.endpoint_first);
  WriteLittle16(r.bytes + kEndpointSecondOffset, d.endpoint_second);
  WriteLittle32(r.bytes + kGroupIdOffset, d.group_id);
  std::memcpy(r.bytes + kFamilyNameOffset, d.family.data(),
              d.family.size() < kFamilyNameSize ? d.family.size() : kFamilyNameSize);
  WriteLittle16(r.bytes + kBootBranchOffset, d.boot_branch);
  WriteLittle16(r.bytes + kBootVersionOffset, d.boot_version);
  WriteLittle16(r.bytes + kDeviceStateOffset, d.state);
  WriteLittle32(r.bytes + kSerialNumberOffset, static_cast<uint32_t>(d.serial));
  WriteLittle16(r.bytes + kIdentityScopeOffset, d.scope);
  WriteLittle16(r.bytes + kIdentityQualifierOffset, d.qualifier);
  for (int i = 0; i < 3; ++i) WriteLittle16(r.bytes + kCodeVersionOffset + 2 * i, d.code[i]);
  const size_t room = kDeviceRecordSize - kLabelOffset;
  std::memcpy(r.bytes + kLabelOffset, d.label.data(), d.label.size() < room ? d.label.size() : room);
  return r;
}

#endif  // K27_SUPPORT_TEST_DEVICE_H_
