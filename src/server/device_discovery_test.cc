#include "server/device_discovery.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "support/fake_server.h"
#include "support/run_to_exit.h"
#include "support/test_device.h"

namespace {

const char kReady[] = "Found : K27#0042 (Bench) BootV1.3 CodeV2.1.7\n";

DeviceRecord Device(int32_t serial, uint16_t state = 1200, uint32_t locator = 1,
                    const char* family = "K27") {
  TestDevice d;
  d.serial = serial;
  d.state = state;
  d.locator = locator;
  d.family = family;
  return BuildDeviceRecord(d);
}

SAFEARRAY* ArrayWithoutType(ULONG count) {
  SAFEARRAY* array = nullptr;
  SafeArrayAllocDescriptor(1, &array);
  array->cbElements = 1;
  array->rgsabound[0].cElements = count;
  array->rgsabound[0].lLbound = 0;
  SafeArrayAllocData(array);
  return array;
}

SAFEARRAY* Response(const std::vector<uint8_t>& bytes, LONG lower_bound = 0) {
  return MakeByteArray(bytes, lower_bound);
}

TEST(DiscoverDevicesTest, DetectResponseChecks) {
  const std::vector<uint8_t> one = DetectResponseOf({Device(42)});
  const std::vector<uint8_t> two = DetectResponseOf({Device(42), Device(42)});
  auto sized = [&](size_t n) { return std::vector<uint8_t>(two.begin(), two.begin() + n); };
  struct Row {
    const char* name;
    std::function<SAFEARRAY*()> make;
    const char* message;  // null: accepted
    size_t lines;
  } rows[] = {
      {"empty", [&] { return Response({}); }, "NO DEVICES FOUND", 0},
      {"1255 bytes", [&] { return Response(sized(1255)); }, "DEVICE DETECT RESPONSE INVALID", 0},
      {"1256 bytes", [&] { return Response(one); }, nullptr, 1},
      {"2512 bytes", [&] { return Response(two); }, nullptr, 2},
      {"2513 bytes", [&] {
         std::vector<uint8_t> b = two;
         b.push_back(0);
         return Response(b);
       }, "DEVICE DETECT RESPONSE INVALID", 0},
      {"null", [] { return static_cast<SAFEARRAY*>(nullptr); }, "DEVICE DETECT RESPONSE INVALID", 0},
      {"VT_UI2", [&] {
         std::vector<uint16_t> v(model::kDeviceRecordSize / 2);
         std::memcpy(v.data(), one.data(), one.size());
         return MakeUi2Array(v);
       }, "DEVICE DETECT RESPONSE INVALID", 0},
      {"VT_I1", [] {
         SAFEARRAYBOUND bound = {model::kDeviceRecordSize, 0};
         return SafeArrayCreate(VT_I1, 1, &bound);
       }, "DEVICE DETECT RESPONSE INVALID", 0},
      {"no element type", [] { return ArrayWithoutType(model::kDeviceRecordSize); },
       "DEVICE DETECT RESPONSE INVALID", 0},
      {"not lockable", [&] {
         SAFEARRAY* a = Response(one);
         a->cLocks = 0xFFFF;
         return a;
       }, "DEVICE DETECT RESPONSE INVALID", 0},
      {"two dimensions", [] {
         SAFEARRAYBOUND bounds[2] = {{0, 0}, {model::kDeviceRecordSize, 0}};
         return SafeArrayCreate(VT_UI1, 2, bounds);
       }, "DEVICE DETECT RESPONSE INVALID", 0},
      {"no dimensions", [&] {
         SAFEARRAY* a = Response(one);
         a->cDims = 0;
         return a;
       }, "DEVICE DETECT RESPONSE INVALID", 0},
      {"bounds past 32 bits", [&] {
         SAFEARRAY* a = Response(one);
         a->rgsabound[0].lLbound = 0x7FFFFFFF;
         return a;
       }, "DEVICE DETECT RESPONSE INVALID", 0},
      // Read from the first element, whatever the lower bound.
      {"lower bound 5", [&] { return Response(one, 5); }, nullptr, 1},
      {"lower bound -3", [&] { return Response(two, -3); }, nullptr, 2},
  };
  for (const Row& row : rows) {
    FakeDeviceServer server;
    server.detect_response = row.make;
    Outcome outcome = RunToExit([&] { DiscoverDevices(&server); });
    EXPECT_EQ(server.calls, std::vector<std::string>{"DetectDevices"}) << row.name;
    std::string listed;
    for (size_t i = 0; i < row.lines; ++i) listed += kReady;
    if (row.message) {
      EXPECT_TRUE(outcome.ended) << row.name;
      EXPECT_EQ(outcome.status, 1) << row.name;
      EXPECT_EQ(outcome.text, listed + row.message + "\nPress space to exit\n") << row.name;
    } else {
      EXPECT_FALSE(outcome.ended) << row.name;
      EXPECT_EQ(outcome.text, listed) << row.name;
    }
  }
}

TEST(DiscoverDevicesTest, FailedDetectionIsNotLookedAt) {
  FakeDeviceServer server;
  server.devices = {Device(42)};
  server.detect_hr = kFakeFailure;
  Outcome outcome = RunToExit([&] { DiscoverDevices(&server); });
  EXPECT_EQ(outcome.text, "ERROR COMMUNICATING WITH SERVER\nPress space to exit\n");
  // Nor is a missing response.
  server.detect_response = [] { return static_cast<SAFEARRAY*>(nullptr); };
  outcome = RunToExit([&] { DiscoverDevices(&server); });
  EXPECT_EQ(outcome.message, "ERROR COMMUNICATING WITH SERVER");
}

TEST(DiscoverDevicesTest, EveryDeviceIsListedBeforeNoneIsAvailable) {
  FakeDeviceServer server;
  server.devices = {Device(1, 999), Device(2, 1200, 1, "k27"), Device(3, 650), Device(4, 1000, 1, "K27 ")};
  Outcome outcome = RunToExit([&] { DiscoverDevices(&server); });
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.text,
            "Found : K27#0001 (Bench) BootV1.3 NOT READY FOR CODE PROGRAMMING\n"
            "Found : k27#0002 (Bench) BootV1.3 CodeV2.1.7\n"
            "Found : K27 (NO SERIAL NUMBER) BootV1.3 NOT READY FOR CODE PROGRAMMING\n"
            "Found : K27 #0004 (Bench) BootV1.3\n"
            "NO DEVICES AVAILABLE TO PROGRAM\n"
            "Press space to exit\n");
}

TEST(DiscoverDevicesTest, KeepsTheEligibleInDetectionOrder) {
  FakeDeviceServer server;
  server.devices = {Device(5, 1000, 10), Device(6, 999, 11), Device(7, 1001, 12),
                    Device(8, 1200, 13, "X99")};
  DiscoveredDevices found;
  Outcome outcome = RunToExit([&] { found = DiscoverDevices(&server); });
  ASSERT_FALSE(outcome.ended);
  ASSERT_EQ(found.eligible.size(), 2u);
  EXPECT_EQ(DeviceLocator(found.eligible[0]), 10u);
  EXPECT_EQ(DeviceLocator(found.eligible[1]), 12u);
  EXPECT_EQ(found.response.count, 4 * model::kDeviceRecordSize);
  EXPECT_EQ(server.ToolLocks(), std::vector<ULONG>{1});  // held for the choice
}

SerialInput Typed(const std::string& text) {
  auto at = std::make_shared<size_t>(0);
  return [text, at]() -> int {
    return *at < text.size() ? static_cast<unsigned char>(text[(*at)++]) : kEndOfSerialInput;
  };
}

TEST(SelectDeviceTest, TheOperatorsNumberPicksTheLastMatchingEligibleDevice) {
  const std::string prompt = "Please enter the serial number of the device you wish to program : ";
  struct Row {
    const char* typed;
    uint32_t locator;  // 0: refused
  } rows[] = {
      {"42\r\n", 3},   {"0042\n", 3},       {"  7\n", 2},    {"123456\n", 4},
      {"9\n", 0},      // listed, not eligible
      {"43\n", 0},     {"abc\n", 0},        {"", 0},         {"\n\n", 0},
      {"4294967338\n", 0},                  {"-42\n", 0},
  };
  for (const Row& row : rows) {
    FakeDeviceServer server;
    server.devices = {Device(42, 1200, 1), Device(7, 1000, 2), Device(9, 999, 5),
                      Device(42, 1001, 3), Device(123456, 1200, 4)};
    DeviceRecord chosen{};
    Outcome outcome = RunToExit([&] {
      DiscoveredDevices found = DiscoverDevices(&server);
      chosen = SelectDevice(found, Typed(row.typed));
      EXPECT_TRUE(found.eligible.empty());
    });
    std::string after = outcome.text.substr(outcome.text.find(prompt) + prompt.size());
    if (row.locator == 0) {
      EXPECT_TRUE(outcome.ended) << row.typed;
      EXPECT_EQ(outcome.status, 1);
      EXPECT_EQ(after, "THAT SERIAL NUMBER IS NOT IN THE LIST OF DEVICES FOUND\nPress space to exit\n")
          << row.typed;
    } else {
      EXPECT_FALSE(outcome.ended) << row.typed;
      EXPECT_EQ(after, "") << row.typed;
      EXPECT_EQ(DeviceLocator(chosen), row.locator) << row.typed;
      EXPECT_EQ(server.ToolLocks(), std::vector<ULONG>{0});  // unlocked by the tool
    }
  }
}

TEST(SelectDeviceTest, PromptIsFlushedBeforeTheReadAndTheRecordCopiedWhole) {
  RecordingConsole console;
  FakeExitPlatform platform;
  FakeDeviceServer server;
  DeviceRecord device = Device(42);
  for (size_t i = model::kLabelAt + 8; i < model::kDeviceRecordSize; ++i) device.bytes[i] = static_cast<uint8_t>(i * 7);
  server.devices = {device};
  DiscoveredDevices found = DiscoverDevices(&server);
  std::vector<size_t> flushes_at_read;
  std::string text_at_read;
  SerialInput typed = Typed("42\n");
  DeviceRecord chosen = SelectDevice(found, [&] {
    if (text_at_read.empty()) {
      flushes_at_read = console.flushes;
      text_at_read = console.text;
    }
    return typed();
  });
  EXPECT_EQ(text_at_read, std::string(kReady) +
                              "Please enter the serial number of the device you wish to program : ");
  EXPECT_EQ(flushes_at_read, std::vector<size_t>{text_at_read.size()});
  EXPECT_EQ(std::memcmp(chosen.bytes, device.bytes, model::kDeviceRecordSize), 0);
}

}  // namespace
