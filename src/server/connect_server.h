#ifndef K27_SERVER_CONNECT_SERVER_H_
#define K27_SERVER_CONNECT_SERVER_H_

#include <k27server.h>

#include <cstdint>
#include <functional>

// The oldest server that can take this tool's profile.
constexpr uint16_t kMinimumServerMajor = 1;
constexpr uint16_t kMinimumServerMinor = 5;

// How the server object is made; the tool's is CoCreateInstance of the
// class above as a local server.
using CreateServer = std::function<HRESULT(IDeviceServer** server)>;
HRESULT CreateLocalDeviceServer(IDeviceServer** server);

// Creates the server object and refuses servers older than 1.5. Returns the
// reference, held until the process ends.
IDeviceServer* ConnectServer(const CreateServer& create = CreateLocalDeviceServer);

// Hands the server the profile block, copied once into a byte array of
// exactly its length that lives only across the call.
void UploadProfile(IDeviceServer* server, const uint8_t* profile, uint32_t profile_size);

#endif  // K27_SERVER_CONNECT_SERVER_H_
