// k27prog: programs the firmware release it carries into one K27 device,
// through the device server. One pass through the stages; every run ends in
// FatalExit.

#include <objbase.h>

#include "image/checksum.h"
#include "image/embedded_image.h"
#include "image/validate_image.h"
#include "programming/program_device.h"
#include "run/console.h"
#include "run/fatal_exit.h"
#include "run/run_state.h"
#include "server/connect_server.h"
#include "server/device_discovery.h"
#include "server/identity_selection.h"

namespace {

[[noreturn]] void Run() {
  RunState run;
  PrintLine("k27prog - K27 firmware programmer");
  BuildChecksumTable();
  if (CoInitializeEx(nullptr, COINIT_MULTITHREADED) != S_OK) FatalExit(1, "FAILED TO INITIALISE COM");
  run.code = LoadEmbeddedImage();
  run.profile = ValidateImage(run.code.bytes.get(), run.code.size);
  run.server = ConnectServer();
  UploadProfile(run.server, run.code.bytes.get() + run.profile.offset, run.profile.length);
  DiscoveredDevices found = DiscoverDevices(run.server);
  run.device = SelectDevice(found);
  run.identity = SelectIdentity(run.server, run.device);
  ProgrammingInterfaces opened = OpenProgrammingInterface(run.server, run.device, run.identity);
  run.device_interface = opened.device;
  run.programming = opened.programming;
  ProgramDevice(run.programming, run.device, run.code);
}

}  // namespace

int main() {
  // No stage catches: what escapes one ends the run here, with a message,
  // like every other failure.
  RunStages(Run);
}
