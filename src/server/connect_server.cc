#include "server/connect_server.h"

#include "run/fatal_exit.h"
#include "server/safe_array.h"

HRESULT CreateLocalDeviceServer(IDeviceServer** server) {
  return CoCreateInstance(CLSID_DeviceServerClass, nullptr, CLSCTX_LOCAL_SERVER, IID_IDeviceServer,
                          reinterpret_cast<void**>(server));
}

IDeviceServer* ConnectServer(const CreateServer& create) {
  IDeviceServer* server = nullptr;
  CheckHresult(create(&server));
  if (!server) FatalExit(1, "COULD NOT CONNECT TO KORVEL SERVER");
  unsigned short major = 0;
  unsigned short minor = 0;
  CheckHresult(server->GetVersion(&major, &minor));
  if (major < kMinimumServerMajor || (major == kMinimumServerMajor && minor < kMinimumServerMinor)) {
    FatalExit(1, "UNABLE TO CONTINUE - REQUIRE SERVER VERSION 1.5+");
  }
  return server;
}

void UploadProfile(IDeviceServer* server, const uint8_t* profile, uint32_t profile_size) {
  SAFEARRAY* array = CreateSentByteArray(profile, profile_size);
  CheckHresult(server->LoadProfile(array));
  DestroySentArray(array);
}
