#ifndef K27_RUN_RUN_STATE_H_
#define K27_RUN_RUN_STATE_H_

#include <cstdint>

#include "image/inflate.h"
#include "image/validate_image.h"
#include "server/device_record.h"

struct IDeviceServer;
struct IDeviceInterface;
struct ICodeProgramming;

// What passes between the stages, held by the driver for the whole run.
// Nothing here is released one by one: the process end reclaims it.
struct RunState {
  CodeBlock code;
  ProfileView profile;  // inside code
  IDeviceServer* server = nullptr;
  DeviceRecord device{};  // the operator's choice, copied
  uint16_t identity = 0;
  IDeviceInterface* device_interface = nullptr;
  ICodeProgramming* programming = nullptr;
};

#endif  // K27_RUN_RUN_STATE_H_
