#ifndef K27_SERVER_IDENTITY_SELECTION_H_
#define K27_SERVER_IDENTITY_SELECTION_H_

#include <k27server.h>

#include <cstdint>

#include "server/device_record.h"

// The arguments after scope and qualifier that the server's identity query
// takes.
constexpr ULONG kIdentityQueryArguments[3] = {0, 0, 1};

// Lists the identities usable on the device, each with its access level,
// and returns the one to program as. Ends the run when none has sufficient
// access.
uint16_t SelectIdentity(IDeviceServer* server, const DeviceRecord& device);

struct ProgrammingInterfaces {
  IDeviceInterface* device = nullptr;
  ICodeProgramming* programming = nullptr;
};

// Opens the device, then its code programming as the chosen identity. Both
// references are held until the process ends.
ProgrammingInterfaces OpenProgrammingInterface(IDeviceServer* server, const DeviceRecord& device,
                                               uint16_t identity);

#endif  // K27_SERVER_IDENTITY_SELECTION_H_
