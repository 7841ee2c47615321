#include "model/outcomes.h"

namespace model {

namespace {

using S = OutcomeStage;

constexpr const char* kComAlwaysStarts =
    "COM starts in every new process of the tool; it fails only in a process that started it already or on a PC "
    "without COM, and a run cannot be given either";
constexpr const char* kResourceAlwaysLoads =
    "Windows hands over a resource it has found in the program's own loaded image; no program file makes that fail";
constexpr const char* kChecksumByConstruction =
    "the checksum made anew verifies by construction; only a fault in the tool's checksum code could end here";
constexpr const char* kToolFault =
    "only an error of a kind the tool does not expect ends here, and no bench or image raises one: only a fault in "
    "the tool's own code could";
constexpr const char* kMemory =
    "needs the PC to run out of memory, or an image that inflates past 4 GB, which a qualification must not do to "
    "the PC";

}  // namespace

const std::vector<Outcome>& Outcomes() {
  static const std::vector<Outcome> outcomes = {
      {"FAILED TO INITIALISE COM", 1, S::kStart, kComAlwaysStarts},
      {"CODE RESOURCE NOT FOUND", 1, S::kImage, nullptr},
      {"CODE RESOURCE TOO SMALL", 1, S::kImage, nullptr},
      {"COULD NOT LOAD CODE RESOURCE", 1, S::kImage, kResourceAlwaysLoads},
      {"COULD NOT LOCK CODE RESOURCE", 1, S::kImage, kResourceAlwaysLoads},
      {"CODE DECOMPRESSION DIDN'T!!!", 1, S::kImage, nullptr},
      {"CODE DECOMPRESSION FAILED", 1, S::kImage, nullptr},
      {"OUT OF MEMORY", 1, S::kImage, kMemory},
      {"INTERNAL ERROR", 1, S::kAnyCall, kToolFault},
      {"CODE BLOCK SIZE NOT A MULTIPLE OF 4", 1, S::kImage, nullptr},
      {"CODE BLOCK CRC CHECK FAILED", 1, S::kImage, nullptr},
      {"BAD CODE BLOCK MAGIC", 1, S::kImage, nullptr},
      {"NOT A CODE BLOCK", 1, S::kImage, nullptr},
      {"NOT K27 CODE", 1, S::kImage, nullptr},
      {"CODE BLOCK START FIELD INCORRECT", 1, S::kImage, nullptr},
      {"CODE BLOCK END FIELD INCORRECT", 1, S::kImage, nullptr},
      {"UNKNOWN CODE HEADER X VERSION", 108, S::kImage, nullptr},
      {"UNKNOWN CODE HEADER Y VERSION", 109, S::kImage, nullptr},
      {"STORE START FIELD INCORRECT", 1, S::kImage, nullptr},
      {"STORE SIZE FIELD INCORRECT", 1, S::kImage, nullptr},
      {"PROFILE SIZE NOT A MULTIPLE OF 4", 1, S::kImage, nullptr},
      {"PROFILE CRC CHECK FAILED", 1, S::kImage, nullptr},
      {"BAD BLOCK MAGIC", 1, S::kImage, nullptr},
      {"NOT A PROFILE BLOCK", 1, S::kImage, nullptr},
      {"NOT K27 PROFILE", 1, S::kImage, nullptr},
      {"PROFILE BLOCK START FIELD INCORRECT", 1, S::kImage, nullptr},
      {"PROFILE BLOCK END FIELD INCORRECT", 1, S::kImage, nullptr},
      {"UNKNOWN PROFILE HEADER X VERSION", 1, S::kImage, nullptr},
      {"UNKNOWN PROFILE HEADER Y VERSION", 1, S::kImage, nullptr},
      {"PROFILE/CODE BRANCH MISMATCH", 1, S::kImage, nullptr},
      {"PROFILE/CODE VERSION MISMATCH", 1, S::kImage, nullptr},
      {"PROFILE/CODE REVISION MISMATCH", 1, S::kImage, nullptr},
      {"BAD PROFILE FROM REVISION", 1, S::kImage, nullptr},
      {"ERROR COMMUNICATING WITH SERVER", 1, S::kAnyCall, nullptr},
      {"COULD NOT CONNECT TO KORVEL SERVER", 1, S::kServer, nullptr},
      {"UNABLE TO CONTINUE - REQUIRE SERVER VERSION 1.5+", 1, S::kServer, nullptr},
      {"DEVICE DETECT RESPONSE INVALID", 1, S::kDevices, nullptr},
      {"NO DEVICES FOUND", 1, S::kDevices, nullptr},
      {"NO DEVICES AVAILABLE TO PROGRAM", 1, S::kDevices, nullptr},
      {"THAT SERIAL NUMBER IS NOT IN THE LIST OF DEVICES FOUND", 1, S::kDevices, nullptr},
      {"NO IDENTITY WITH SUFFICIENT ACCESS FOUND", 1, S::kIdentity, nullptr},
      {"COULD NOT ACQUIRE DEVICE INTERFACE", 1, S::kIdentity, nullptr},
      {"COULD NOT ACQUIRE CODE PROGRAMMING INTERFACE", 1, S::kIdentity, nullptr},
      {"BOOT CODE BRANCH TOO LOW FOR THIS CODE", 1, S::kGate, nullptr},
      {"BOOT CODE VERSION TOO LOW FOR THIS CODE", 1, S::kGate, nullptr},
      {"CRC REGENERATION FAILED", 1, S::kGate, kChecksumByConstruction},
      {"COULD NOT ACQUIRE CODE PROGRAMMING GROUP AT DEVICE", 1, S::kDevice, nullptr},
      {"CODE FLASH ERASE FAILED", 1, S::kDevice, nullptr},
      {"CODE FLASH PROGRAM FAILED", 1, S::kDevice, nullptr},
      {"RESET REJECTED", 1, S::kDevice, nullptr},
      {"PROGRAMMING SUCCESSFUL", 0, S::kDevice, nullptr},
  };
  return outcomes;
}

const Outcome* FindOutcome(std::string_view message) {
  for (const Outcome& outcome : Outcomes()) {
    if (message == outcome.message) return &outcome;
  }
  return nullptr;
}

}  // namespace model
