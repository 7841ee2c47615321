#include "server/device_record.h"

#include <cstring>

#include "image/byte_order.h"

namespace {

std::string BoundedText(const uint8_t* start, size_t room) {
  const void* nul = std::memchr(start, 0, room);
  size_t length = nul ? static_cast<size_t>(static_cast<const uint8_t*>(nul) - start) : room;
  return std::string(reinterpret_cast<const char*>(start), length);
}

}  // namespace

uint32_t DeviceLocator(const DeviceRecord& r) { return ReadLittle32(r.bytes + kLocatorOffset); }
uint32_t DeviceEndpointFirst(const DeviceRecord& r) {
  return ReadLittle32(r.bytes + kEndpointFirstOffset);
}
uint16_t DeviceEndpointSecond(const DeviceRecord& r) {
  return ReadLittle16(r.bytes + kEndpointSecondOffset);
}
uint32_t DeviceGroupId(const DeviceRecord& r) { return ReadLittle32(r.bytes + kGroupIdOffset); }
uint16_t DeviceBootBranch(const DeviceRecord& r) {
  return ReadLittle16(r.bytes + kBootBranchOffset);
}
uint16_t DeviceBootVersion(const DeviceRecord& r) {
  return ReadLittle16(r.bytes + kBootVersionOffset);
}
uint16_t DeviceState(const DeviceRecord& r) { return ReadLittle16(r.bytes + kDeviceStateOffset); }
int32_t DeviceSerialNumber(const DeviceRecord& r) {
  return static_cast<int32_t>(ReadLittle32(r.bytes + kSerialNumberOffset));
}
uint16_t DeviceIdentityScope(const DeviceRecord& r) {
  return ReadLittle16(r.bytes + kIdentityScopeOffset);
}
uint16_t DeviceIdentityQualifier(const DeviceRecord& r) {
  return ReadLittle16(r.bytes + kIdentityQualifierOffset);
}
uint16_t DeviceCodeVersion(const DeviceRecord& r, int index) {
  return ReadLittle16(r.bytes + kCodeVersionOffset + 2 * index);
}

std::string DeviceFamilyName(const DeviceRecord& r) {
  return BoundedText(r.bytes + kFamilyNameOffset, kFamilyNameSize);
}
std::string DeviceLabel(const DeviceRecord& r) {
  return BoundedText(r.bytes + kLabelOffset, kDeviceRecordSize - kLabelOffset);
}

DeviceRecord CopyDeviceRecord(const uint8_t* response, size_t index) {
  DeviceRecord record;
  std::memcpy(record.bytes, response + index * kDeviceRecordSize, kDeviceRecordSize);
  return record;
}
