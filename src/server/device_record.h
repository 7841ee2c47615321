#ifndef K27_SERVER_DEVICE_RECORD_H_
#define K27_SERVER_DEVICE_RECORD_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// One detected device as the server lays it out: 1256 bytes, little-endian.
// The tool copies records whole and reads only the fields below, in place.
constexpr size_t kDeviceRecordSize = 1256;

struct DeviceRecord {
  uint8_t bytes[kDeviceRecordSize];
};

// Field offsets within a record.
constexpr size_t kLocatorOffset = 0;
constexpr size_t kEndpointFirstOffset = 4;
constexpr size_t kEndpointSecondOffset = 8;
constexpr size_t kGroupIdOffset = 12;
constexpr size_t kFamilyNameOffset = 16;
constexpr size_t kFamilyNameSize = 32;
constexpr size_t kBootBranchOffset = 48;
constexpr size_t kBootVersionOffset = 50;
constexpr size_t kDeviceStateOffset = 84;
constexpr size_t kSerialNumberOffset = 88;
constexpr size_t kIdentityScopeOffset = 92;
constexpr size_t kIdentityQualifierOffset = 94;
constexpr size_t kCodeVersionOffset = 160;  // three 16-bit values
constexpr size_t kLabelOffset = 168;        // to the end of the record

uint32_t DeviceLocator(const DeviceRecord& record);
uint32_t DeviceEndpointFirst(const DeviceRecord& record);
uint16_t DeviceEndpointSecond(const DeviceRecord& record);
uint32_t DeviceGroupId(const DeviceRecord& record);
uint16_t DeviceBootBranch(const DeviceRecord& record);
uint16_t DeviceBootVersion(const DeviceRecord& record);
uint16_t DeviceState(const DeviceRecord& record);
int32_t DeviceSerialNumber(const DeviceRecord& record);
uint16_t DeviceIdentityScope(const DeviceRecord& record);
uint16_t DeviceIdentityQualifier(const DeviceRecord& record);
// index 0, 1 or 2, in field order.
uint16_t DeviceCodeVersion(const DeviceRecord& record, int index);

// The text fields end at their NUL or at the end of their room, whichever
// comes first: a name that fills its 32 bytes is all 32 of them.
std::string DeviceFamilyName(const DeviceRecord& record);
std::string DeviceLabel(const DeviceRecord& record);

// The record at `index` of a detect response of whole records.
DeviceRecord CopyDeviceRecord(const uint8_t* response, size_t index);

#endif  // K27_SERVER_DEVICE_RECORD_H_
