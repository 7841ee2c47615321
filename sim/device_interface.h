#ifndef K27_SIM_DEVICE_INTERFACE_H_
#define K27_SIM_DEVICE_INTERFACE_H_

#include <cstdint>
#include <memory>

#include "k27server.h"
#include "sessions.h"

// A device opened through OpenDevice by a run: the bench device at that index.
IDeviceInterface* NewDeviceInterface(int device, std::shared_ptr<Session> session);

// Objects of each interface that no client is given and no count includes
// (HoldInterfaces).
IUnknown* NewSpareDeviceInterface();
IUnknown* NewSpareCodeProgramming();

// Status words the simulated device gives on its own when asked to do
// something out of order; the bench's scripted words apply otherwise.
constexpr uint16_t kStatusWrongGroup = 0x0102;
constexpr uint16_t kStatusGroupNotHeld = 0x0103;
constexpr uint16_t kStatusNotErased = 0x0104;
constexpr uint16_t kStatusNoEraseRunning = 0x0105;
constexpr uint16_t kStatusBadAddress = 0x0106;
// Shared bench only: the device's group is held by another run.
constexpr uint16_t kStatusGroupBusy = 0x0107;

#endif  // K27_SIM_DEVICE_INTERFACE_H_
