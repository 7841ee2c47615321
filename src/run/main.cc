// k27prog: programs the firmware release it carries into one K27 device,
// through the device server. One pass through the stages; every run ends in
// FatalExit.

#include <objbase.h>

#include <cryptopp/cryptlib.h>

#include <new>

#include "image/checksum.h"
#include "image/embedded_image.h"
#include "image/validate_image.h"
#include "run/console.h"
#include "run/fatal_exit.h"
#include "run/run_state.h"

namespace {

[[noreturn]] void Run() {
  RunState run;
  PrintLine("k27prog - K27 firmware programmer");
  BuildChecksumTable();
  if (CoInitializeEx(nullptr, COINIT_MULTITHREADED) != S_OK) FatalExit(1, "FAILED TO INITIALISE COM");
  run.code = LoadEmbeddedImage();
  run.profile = ValidateImage(run.code.bytes.get(), run.code.size);
  // Stages to come: ConnectServer, UploadProfile,
  // DiscoverDevices, SelectDevice, SelectIdentity, OpenProgrammingInterface,
  // ProgramDevice.
  FatalExit(1, "ERROR COMMUNICATING WITH SERVER");
}

}  // namespace

int main() {
  // No stage catches: what escapes one ends the run here, with a message,
  // like every other failure.
  try {
    Run();
  } catch (const std::bad_alloc&) {
    FatalExit(1, "OUT OF MEMORY");
  } catch (const CryptoPP::Exception&) {
    FatalExit(1, "CODE DECOMPRESSION FAILED");
  }
}
