#include "server/device_listing.h"

#include <gtest/gtest.h>

#include "support/test_device.h"

namespace {

TestDevice WithState(uint16_t state) {
  TestDevice d;
  d.state = state;
  return d;
}

TEST(DeviceListingTest, StateDecidesWhatIsListed) {
  struct Row {
    uint16_t state;
    const char* line;
    bool eligible;
  } rows[] = {
      {0, "Found : K27 (NO SERIAL NUMBER) (BAD BOOT CODE) NOT READY FOR CODE PROGRAMMING", false},
      {100, "Found : K27 (NO SERIAL NUMBER) (BAD BOOT CODE) NOT READY FOR CODE PROGRAMMING", false},
      {101, "Found : K27 (NO SERIAL NUMBER) BootV1.3 NOT READY FOR CODE PROGRAMMING", false},
      {650, "Found : K27 (NO SERIAL NUMBER) BootV1.3 NOT READY FOR CODE PROGRAMMING", false},
      {700, "Found : K27 (NO SERIAL NUMBER) BootV1.3 NOT READY FOR CODE PROGRAMMING", false},
      {701, "Found : K27#0042 BootV1.3 NOT READY FOR CODE PROGRAMMING", false},
      {800, "Found : K27#0042 BootV1.3 NOT READY FOR CODE PROGRAMMING", false},
      {801, "Found : K27#0042 (Bench) BootV1.3 NOT READY FOR CODE PROGRAMMING", false},
      {999, "Found : K27#0042 (Bench) BootV1.3 NOT READY FOR CODE PROGRAMMING", false},
      {1000, "Found : K27#0042 (Bench) BootV1.3", true},
      {1001, "Found : K27#0042 (Bench) BootV1.3 CodeV2.1.7", true},
      {1200, "Found : K27#0042 (Bench) BootV1.3 CodeV2.1.7", true},
      // The state is unsigned.
      {0xFFFF, "Found : K27#0042 (Bench) BootV1.3 CodeV2.1.7", true},
  };
  for (const Row& row : rows) {
    DeviceRecord record = BuildDeviceRecord(WithState(row.state));
    EXPECT_EQ(ListingLine(record), row.line) << row.state;
    EXPECT_EQ(IsEligibleDevice(record), row.eligible) << row.state;
  }
}

TEST(DeviceListingTest, OnlyTheK27FamilyIsEligible) {
  std::string full(32, 'K');  // fills its room: no NUL, so it is all 32 bytes
  struct Row {
    std::string family;
    uint16_t state;
    const char* line_start;
    bool eligible;
  } rows[] = {
      {"K27", 1000, "Found : K27#0042", true},
      {"k27", 1000, "Found : k27#0042", false},
      {"K27 ", 1200, "Found : K27 #0042", false},
      {"K2", 1200, "Found : K2#0042", false},
      {"K270", 1200, "Found : K270#0042", false},
      {"X99", 1200, "Found : X99#0042", false},
      {"", 1200, "Found : #0042", false},
      {full, 1200, nullptr, false},
  };
  for (const Row& row : rows) {
    TestDevice d;
    d.family = row.family;
    d.state = row.state;
    DeviceRecord record = BuildDeviceRecord(d);
    std::string line = ListingLine(record);
    std::string start = row.line_start ? row.line_start : "Found : " + full + "#0042";
    EXPECT_EQ(line.substr(0, start.size()), start) << row.family;
    // No remark for a ready device of another family.
    EXPECT_EQ(line.find("NOT READY"), std::string::npos) << row.family;
    EXPECT_EQ(IsEligibleDevice(record), row.eligible) << row.family;
  }
  // "K27" followed by more bytes before the end of the room is not "K27".
  TestDevice d;
  DeviceRecord record = BuildDeviceRecord(d);
  record.bytes[model::kFamilyAt + 3] = 'x';
  EXPECT_FALSE(IsEligibleDevice(record));
}

TEST(DeviceListingTest, SerialNumbersAreZeroPaddedToFourDigits) {
  struct Row {
    int32_t serial;
    const char* shown;
  } rows[] = {{0, "#0000"},   {7, "#0007"},       {42, "#0042"},
              {9999, "#9999"}, {123456, "#123456"}, {-5, "#-005"},
              {INT32_MAX, "#2147483647"}, {INT32_MIN, "#-2147483648"}};
  for (const Row& row : rows) {
    TestDevice d;
    d.serial = row.serial;
    EXPECT_EQ(ListingLine(BuildDeviceRecord(d)),
              std::string("Found : K27") + row.shown + " (Bench) BootV1.3 CodeV2.1.7");
  }
}

TEST(DeviceListingTest, FieldsAreReadLittleEndianAtTheirOffsets) {
  TestDevice d;
  d.boot_branch = 0x1234;
  d.boot_version = 0xFEDC;
  d.code_version[0] = 0x0102;
  d.code_version[1] = 0x8000;
  d.code_version[2] = 65535;
  d.serial = 0x01020304;
  d.state = 0x0401;  // 1025
  DeviceRecord record = BuildDeviceRecord(d);
  EXPECT_EQ(ListingLine(record), "Found : K27#16909060 (Bench) BootV4660.65244 CodeV258.32768.65535");
  EXPECT_EQ(DeviceLocator(record), 0x11223344u);
  EXPECT_EQ(DeviceEndpointFirst(record), 0x55667788u);
  EXPECT_EQ(DeviceEndpointSecond(record), 0x99AA);
  EXPECT_EQ(DeviceGroupId(record), 0xCAFEF00Du);
  EXPECT_EQ(DeviceIdentityScope(record), 0x0102);
  EXPECT_EQ(DeviceIdentityQualifier(record), 0x0304);
  EXPECT_EQ(record.bytes[model::kSerialAt], 0x04);
}

TEST(DeviceListingTest, LabelStopsAtItsNulOrTheRecordEnd) {
  TestDevice d;
  d.label = std::string("Rig 7\0junk", 10);
  EXPECT_EQ(DeviceLabel(BuildDeviceRecord(d)), "Rig 7");
  d.label = std::string(model::kDeviceRecordSize - model::kLabelAt, 'L');
  DeviceRecord record = BuildDeviceRecord(d);
  EXPECT_EQ(DeviceLabel(record), d.label);
  EXPECT_EQ(ListingLine(record), "Found : K27#0042 (" + d.label + ") BootV1.3 CodeV2.1.7");
  d.label = "";
  EXPECT_EQ(ListingLine(BuildDeviceRecord(d)), "Found : K27#0042 () BootV1.3 CodeV2.1.7");
}

TEST(DeviceListingTest, SearchRunsFromTheLastEligibleEntry) {
  auto device = [](int32_t serial, uint32_t locator) {
    TestDevice d;
    d.serial = serial;
    d.locator = locator;
    return BuildDeviceRecord(d);
  };
  std::vector<DeviceRecord> eligible = {device(42, 1), device(7, 2), device(42, 3), device(0, 4)};
  struct Row {
    std::optional<int32_t> serial;
    int locator;  // 0: none found
  } rows[] = {{42, 3}, {7, 2}, {0, 4}, {43, 0}, {-42, 0}, {std::nullopt, 0}};
  for (const Row& row : rows) {
    const DeviceRecord* found = FindEligibleDevice(eligible, row.serial);
    if (row.locator == 0) {
      EXPECT_EQ(found, nullptr) << row.serial.value_or(-999);
    } else {
      ASSERT_NE(found, nullptr) << *row.serial;
      EXPECT_EQ(DeviceLocator(*found), static_cast<uint32_t>(row.locator)) << *row.serial;
    }
  }
  EXPECT_EQ(FindEligibleDevice({}, 42), nullptr);
}

}  // namespace
