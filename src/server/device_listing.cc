#include "server/device_listing.h"

#include <cstdarg>
#include <cstdio>

namespace {

void Append(std::string& line, const char* format, ...) __attribute__((format(printf, 2, 3)));

void Append(std::string& line, const char* format, ...) {
  char piece[64];
  va_list args;
  va_start(args, format);
  int n = vsnprintf(piece, sizeof piece, format, args);
  va_end(args);
  // Every format here is a few numbers: it always fits.
  if (n > 0) line.append(piece, static_cast<size_t>(n) < sizeof piece ? n : sizeof piece - 1);
}

}  // namespace

std::string ListingLine(const DeviceRecord& record) {
  const uint16_t state = DeviceState(record);
  std::string line = "Found : ";
  line += DeviceFamilyName(record);
  if (state > kStateHasSerialNumber) {
    Append(line, "#%04d", DeviceSerialNumber(record));
  } else {
    line += " (NO SERIAL NUMBER)";
  }
  if (state > kStateHasLabel) {
    line += " (";
    line += DeviceLabel(record);
    line += ")";
  }
  if (state > kStateHasBootCode) {
    Append(line, " BootV%d.%d", DeviceBootBranch(record), DeviceBootVersion(record));
  } else {
    line += " (BAD BOOT CODE)";
  }
  if (state < kStateReadyForCode) line += " NOT READY FOR CODE PROGRAMMING";
  if (state > kStateReadyForCode) {
    Append(line, " CodeV%d.%d.%d", DeviceCodeVersion(record, 0), DeviceCodeVersion(record, 1),
           DeviceCodeVersion(record, 2));
  }
  return line;
}

bool IsEligibleDevice(const DeviceRecord& record) {
  return DeviceState(record) >= kStateReadyForCode && DeviceFamilyName(record) == kDeviceFamily;
}

const DeviceRecord* FindEligibleDevice(const std::vector<DeviceRecord>& eligible,
                                       std::optional<int32_t> serial_number) {
  if (!serial_number) return nullptr;
  for (size_t i = eligible.size(); i-- > 0;) {
    if (DeviceSerialNumber(eligible[i]) == *serial_number) return &eligible[i];
  }
  return nullptr;
}
