#include "server/device_discovery.h"

#include <cstdio>

#include "run/console.h"
#include "run/fatal_exit.h"
#include "server/device_listing.h"

DiscoveredDevices DiscoverDevices(IDeviceServer* server) {
  SAFEARRAY* array = nullptr;
  CheckHresult(server->DetectDevices(&array));
  DiscoveredDevices found;
  found.response = LockReceivedArray(array, VT_UI1, 1);
  if (found.response.count % kDeviceRecordSize != 0) FatalExit(1, "DEVICE DETECT RESPONSE INVALID");
  const size_t devices = found.response.count / kDeviceRecordSize;
  if (devices == 0) FatalExit(1, "NO DEVICES FOUND");
  for (size_t i = 0; i < devices; ++i) {
    DeviceRecord record = CopyDeviceRecord(found.response.data, i);
    PrintText(ListingLine(record).c_str());
    PrintLine("");
    if (IsEligibleDevice(record)) found.eligible.push_back(record);
  }
  if (found.eligible.empty()) FatalExit(1, "NO DEVICES AVAILABLE TO PROGRAM");
  return found;
}

int ReadStandardInput() {
  int c = getchar();
  return c == EOF ? kEndOfSerialInput : c;
}

DeviceRecord SelectDevice(DiscoveredDevices& found, const SerialInput& input) {
  PrintText("Please enter the serial number of the device you wish to program : ");
  FlushOutput();
  const DeviceRecord* chosen = FindEligibleDevice(found.eligible, ReadSerialNumber(input));
  if (!chosen) FatalExit(1, "THAT SERIAL NUMBER IS NOT IN THE LIST OF DEVICES FOUND");
  DeviceRecord record = *chosen;
  found.eligible.clear();
  found.eligible.shrink_to_fit();
  ReleaseReceivedArray(found.response);
  found.response = ReceivedArray{};
  return record;
}
