// A detect response and the operator's entry through the listing, the
// eligibility rule and the choice by serial number, in the order of the
// discovery and selection stages.
//
// Input: the first 16 bytes are what the operator types (up to a NUL), the
// rest is the detect response's bytes.

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "device_oracle.h"
#include "fuzz_run.h"
#include "run/console.h"
#include "run/fatal_exit.h"
#include "server/device_listing.h"
#include "server/device_record.h"
#include "server/serial_number.h"
#include "support/run_to_exit.h"

namespace {

constexpr size_t kTyped = 16;
const char kPrompt[] = "Please enter the serial number of the device you wish to program : ";

// The stages' work over the response's bytes once the array is checked and
// locked; what the COM edge adds is the array handling alone.
DeviceRecord DiscoverAndSelect(const uint8_t* response, size_t count, const SerialInput& input) {
  if (count % kDeviceRecordSize != 0) FatalExit(1, "DEVICE DETECT RESPONSE INVALID");
  const size_t devices = count / kDeviceRecordSize;
  if (devices == 0) FatalExit(1, "NO DEVICES FOUND");
  std::vector<DeviceRecord> eligible;
  for (size_t i = 0; i < devices; ++i) {
    DeviceRecord record = CopyDeviceRecord(response, i);
    PrintText(ListingLine(record).c_str());
    PrintLine("");
    if (IsEligibleDevice(record)) eligible.push_back(record);
  }
  if (eligible.empty()) FatalExit(1, "NO DEVICES AVAILABLE TO PROGRAM");
  PrintText(kPrompt);
  FlushOutput();
  const DeviceRecord* chosen = FindEligibleDevice(eligible, ReadSerialNumber(input));
  if (!chosen) FatalExit(1, "THAT SERIAL NUMBER IS NOT IN THE LIST OF DEVICES FOUND");
  return *chosen;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const size_t typed_room = size < kTyped ? size : kTyped;
  const std::string typed(reinterpret_cast<const char*>(data), strnlen(reinterpret_cast<const char*>(data), typed_room));
  const uint8_t* response = data + typed_room;
  const size_t count = size - typed_room;

  size_t read_at = 0;
  bool read_before_flush = false;
  const SerialInput input = [&]() -> int {
    const RecordingConsole& console = FuzzConsole();
    // Nothing is read until the prompt is on the screen.
    if (console.flushes.empty() || console.flushes.back() != console.text.size()) read_before_flush = true;
    if (read_at >= typed.size()) return kEndOfSerialInput;
    return static_cast<unsigned char>(typed[read_at++]);
  };
  DeviceRecord chosen;
  FuzzOutcome outcome = RunFuzzedStages([&] { chosen = DiscoverAndSelect(response, count, input); });

  const DeviceExpectation expected = ExpectDevices(response, count, typed);
  FUZZ_REQUIRE(!read_before_flush, "the serial number was read before the prompt was flushed");
  const std::string shown = expected.listing + (expected.prompted ? kPrompt : "");
  FUZZ_REQUIRE(outcome.before == shown, "the console showed\n%s\nwhere\n%s\nwas due", outcome.before.c_str(),
               shown.c_str());
  if (expected.message) {
    FUZZ_REQUIRE(outcome.ended && outcome.message == expected.message, "the run gave \"%s\" where \"%s\" was due",
                 outcome.ended ? outcome.message.c_str() : "(a device)", expected.message);
  } else {
    FUZZ_REQUIRE(!outcome.ended, "a device was due, the run ended with \"%s\"", outcome.message.c_str());
    FUZZ_REQUIRE(std::memcmp(chosen.bytes, response + expected.chosen * kDeviceRecordSize, kDeviceRecordSize) == 0,
                 "the chosen record is not a copy of record %zu", expected.chosen);
  }
  return 0;
}
