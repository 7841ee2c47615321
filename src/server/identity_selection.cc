#include "server/identity_selection.h"

#include "run/console.h"
#include "run/fatal_exit.h"
#include "server/identity_choice.h"
#include "server/safe_array.h"

uint16_t SelectIdentity(IDeviceServer* server, const DeviceRecord& device) {
  SAFEARRAY* array = nullptr;
  CheckHresult(server->GetIdentities(DeviceIdentityScope(device), DeviceIdentityQualifier(device),
                                     kIdentityQueryArguments[0], kIdentityQueryArguments[1],
                                     kIdentityQueryArguments[2], &array));
  ReceivedArray list = LockReceivedArray(array, VT_UI2, sizeof(uint16_t));
  if (list.count % kIdentityTripleElements != 0) FatalExit(1, "DEVICE DETECT RESPONSE INVALID");
  IdentityChoice choice;
  for (size_t i = 0; i < list.count / kIdentityTripleElements; ++i) {
    const IdentityTriple triple = ReadIdentityTriple(list.data, i);
    BSTR identity_name = nullptr;
    CheckHresult(server->GetIdentityName(triple.kind, triple.number, &identity_name));
    BSTR level_name = nullptr;
    CheckHresult(server->GetAccessLevelName(triple.level, &level_name));
    PrintWideText(IdentityLine(identity_name, level_name));
    ConsiderIdentity(choice, triple);
    SysFreeString(level_name);
    SysFreeString(identity_name);
  }
  if (!choice.chosen) FatalExit(1, "NO IDENTITY WITH SUFFICIENT ACCESS FOUND");
  ReleaseReceivedArray(list);
  return choice.identity;
}

ProgrammingInterfaces OpenProgrammingInterface(IDeviceServer* server, const DeviceRecord& device,
                                               uint16_t identity) {
  ProgrammingInterfaces opened;
  DeviceEndpoint endpoint;
  endpoint.first = DeviceEndpointFirst(device);
  endpoint.second = DeviceEndpointSecond(device);
  CheckHresult(server->OpenDevice(DeviceLocator(device), endpoint, &opened.device));
  if (!opened.device) FatalExit(1, "COULD NOT ACQUIRE DEVICE INTERFACE");
  CheckHresult(opened.device->OpenCodeProgramming(DeviceIdentityScope(device), identity,
                                                  &opened.programming));
  if (!opened.programming) FatalExit(1, "COULD NOT ACQUIRE CODE PROGRAMMING INTERFACE");
  return opened;
}
