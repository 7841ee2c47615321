#ifndef K27_SERVER_DEVICE_DISCOVERY_H_
#define K27_SERVER_DEVICE_DISCOVERY_H_

#include <k27server.h>

#include <vector>

#include "server/device_record.h"
#include "server/safe_array.h"
#include "server/serial_number.h"

// What detection leaves for the operator's choice: the detect response,
// still locked, and copies of the records that may be programmed, in
// detection order.
struct DiscoveredDevices {
  ReceivedArray response;
  std::vector<DeviceRecord> eligible;
};

// Has the server detect devices, lists every one of them, and keeps the
// eligible ones. Ends the run when the response is not whole records, or
// when no device, or no eligible one, was found.
DiscoveredDevices DiscoverDevices(IDeviceServer* server);

// Standard input, a character at a time.
int ReadStandardInput();

// Asks the operator for a serial number and returns a copy of the eligible
// record that carries it; then releases the list and the response.
DeviceRecord SelectDevice(DiscoveredDevices& found, const SerialInput& input = ReadStandardInput);

#endif  // K27_SERVER_DEVICE_DISCOVERY_H_
