#ifndef K27_MODEL_DEVICE_RECORD_H_
#define K27_MODEL_DEVICE_RECORD_H_

// The device record as the server lays it out, one per detected device in
// the detect response: little-endian fields at fixed offsets, every other
// byte zero. The simulator writes its records by this layout and the tool's
// tests build theirs by it, so that a wrong offset in the tool shows.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace model {

constexpr size_t kDeviceRecordSize = 1256;
// 32-bit: locator, first endpoint word, group id, serial number (signed).
// 16-bit: second endpoint word, boot branch and version, state, identity
// scope and qualifier, the three code version numbers.
constexpr size_t kLocatorAt = 0, kEndpointFirstAt = 4, kEndpointSecondAt = 8, kGroupIdAt = 12,
                 kBootBranchAt = 48, kBootVersionAt = 50, kStateAt = 84, kSerialAt = 88, kIdentityScopeAt = 92,
                 kIdentityQualifierAt = 94, kDeviceCodeVersionAt = 160;
// The texts: the family name in 32 bytes, the label to the record's end.
// Each ends with a NUL only when it leaves room for one.
constexpr size_t kFamilyAt = 16, kFamilyRoom = 32, kLabelAt = 168;

struct DeviceFields {
  uint32_t locator = 0;
  uint32_t endpoint_first = 0;
  uint16_t endpoint_second = 0;
  uint32_t group_id = 0;
  std::string family;
  uint16_t boot_branch = 0;
  uint16_t boot_version = 0;
  uint16_t state = 0;
  int32_t serial = 0;
  uint16_t identity_scope = 0;
  uint16_t identity_qualifier = 0;
  uint16_t code_version[3] = {0, 0, 0};
  std::string label;
};

std::vector<uint8_t> EncodeDeviceRecord(const DeviceFields& device);

// A little-endian value of `width` bytes, as the server's records and 16-bit
// arrays hold them.
void PutLittle(uint8_t* p, size_t width, uint32_t value);

}  // namespace model

#endif  // K27_MODEL_DEVICE_RECORD_H_
