#include <gtest/gtest.h>

#include <string>

#include "bench/response.h"

namespace {

BenchDevice Sample() {
  BenchDevice d;
  d.locator = 0x04030201;
  d.endpoint_first = 0x08070605;
  d.endpoint_second = 0x0A09;
  d.group_id = 0x0E0D0C0B;
  d.family = "K27";
  d.boot_branch = 0x1211;
  d.boot_version = 0x1413;
  d.state = 0x1615;
  d.serial = -2;
  d.identity_scope = 0x1817;
  d.identity_qualifier = 0x1A19;
  d.code_version[0] = 0x1C1B;
  d.code_version[1] = 0x1E1D;
  d.code_version[2] = 0x201F;
  d.label = "Bench";
  return d;
}

TEST(DeviceRecordTest, FieldsSitLittleEndianAtTheirOffsets) {
  const std::vector<uint8_t> r = EncodeDeviceRecord(Sample());
  ASSERT_EQ(r.size(), 1256u);
  struct Field {
    size_t offset;
    std::vector<uint8_t> bytes;
  };
  const Field fields[] = {
      {0, {0x01, 0x02, 0x03, 0x04}},      {4, {0x05, 0x06, 0x07, 0x08}}, {8, {0x09, 0x0A, 0x00, 0x00}},
      {12, {0x0B, 0x0C, 0x0D, 0x0E}},     {16, {'K', '2', '7', 0}},      {48, {0x11, 0x12, 0x13, 0x14}},
      {84, {0x15, 0x16}},                 {88, {0xFE, 0xFF, 0xFF, 0xFF}}, {92, {0x17, 0x18, 0x19, 0x1A}},
      {160, {0x1B, 0x1C, 0x1D, 0x1E, 0x1F, 0x20}}, {168, {'B', 'e', 'n', 'c', 'h', 0}},
  };
  std::vector<bool> covered(r.size(), false);
  for (const Field& f : fields) {
    SCOPED_TRACE(f.offset);
    for (size_t i = 0; i < f.bytes.size(); ++i) {
      EXPECT_EQ(r[f.offset + i], f.bytes[i]);
      covered[f.offset + i] = true;
    }
  }
  // Everything else is zero.
  for (size_t i = 0; i < r.size(); ++i) {
    if (!covered[i]) {
      EXPECT_EQ(r[i], 0) << "offset " << i;
    }
  }
}

TEST(DeviceRecordTest, TextIsTerminatedOnlyWhenItLeavesRoom) {
  struct Case {
    std::string family;
    std::string label;
  };
  const Case cases[] = {
      {std::string(31, 'F'), std::string(1087, 'L')},
      {std::string(32, 'F'), std::string(1088, 'L')},
      {std::string(40, 'F'), std::string(2000, 'L')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.family.size());
    BenchDevice d = Sample();
    d.family = c.family;
    d.label = c.label;
    d.boot_branch = 0xAAAA;  // right after the family's room
    const std::vector<uint8_t> r = EncodeDeviceRecord(d);
    ASSERT_EQ(r.size(), 1256u);
    const size_t family = std::min<size_t>(c.family.size(), 32);
    for (size_t i = 0; i < family; ++i) ASSERT_EQ(r[16 + i], 'F');
    if (family < 32) {
      EXPECT_EQ(r[16 + family], 0);
    }
    EXPECT_EQ(r[48], 0xAA);
    const size_t label = std::min<size_t>(c.label.size(), 1088);
    for (size_t i = 0; i < label; ++i) ASSERT_EQ(r[168 + i], 'L');
    if (label < 1088) {
      EXPECT_EQ(r[168 + label], 0);
    }
  }
}

TEST(DeviceRecordTest, PatchesLieOverTheFinishedRecord) {
  BenchDevice d = Sample();
  d.patches.push_back({16, {'K', '2', '7', ' '}});
  d.patches.push_back({1252, {1, 2, 3, 4}});
  const std::vector<uint8_t> r = EncodeDeviceRecord(d);
  EXPECT_EQ(r[19], ' ');
  EXPECT_EQ(r[20], 0);
  EXPECT_EQ(r[1252], 1);
  EXPECT_EQ(r[1255], 4);
}

TEST(ResponseTest, ShapesBendTheNaturalArray) {
  Bench bench;
  bench.devices = {Sample(), Sample()};
  bench.devices[1].locator = 0x44332211;
  struct Case {
    const char* name;
    ArrayShape shape;
    uint16_t vartype;
    uint32_t count;
    uint32_t bytes;
  };
  ArrayShape ui2;
  ui2.vartype = kVtUi2;
  ArrayShape short_one;
  short_one.count = 1255;
  ArrayShape long_one;
  long_one.count = 2513;
  ArrayShape empty;
  empty.count = 0;
  ArrayShape ui4_odd;
  ui4_odd.vartype = kVtUi4;
  ui4_odd.count = 3;
  const Case cases[] = {
      {"natural", {}, kVtUi1, 2512, 2512},   {"VT_UI2", ui2, kVtUi2, 1256, 2512},
      {"1255", short_one, kVtUi1, 1255, 1255}, {"2513", long_one, kVtUi1, 2513, 2513},
      {"empty", empty, kVtUi1, 0, 0},          {"three VT_UI4", ui4_odd, kVtUi4, 3, 12},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    bench.detect_response = c.shape;
    const ArrayContents a = DetectResponse(bench);
    EXPECT_FALSE(a.null);
    EXPECT_EQ(a.vartype, c.vartype);
    EXPECT_EQ(a.count, c.count);
    ASSERT_EQ(a.data.size(), c.bytes);
    // Whatever the shape, the bytes are the records' own, in order.
    const std::vector<uint8_t> first = EncodeDeviceRecord(bench.devices[0]);
    const std::vector<uint8_t> second = EncodeDeviceRecord(bench.devices[1]);
    for (size_t i = 0; i < a.data.size(); ++i) {
      const uint8_t expected = i < 1256 ? first[i] : i < 2512 ? second[i - 1256] : 0;
      ASSERT_EQ(a.data[i], expected) << i;
    }
  }
  ArrayShape null_one;
  null_one.null = true;
  bench.detect_response = null_one;
  EXPECT_TRUE(DetectResponse(bench).null);
  ArrayShape bound;
  bound.lower_bound = 1;
  bench.detect_response = bound;
  EXPECT_EQ(DetectResponse(bench).lower_bound, 1);
}

TEST(ResponseTest, IdentityListIsTriplesOfSixteenBitValues) {
  BenchDevice d = Sample();
  d.identities = {{1, 5, 0, std::nullopt}, {0x0302, 0x0504, 0x0706, std::nullopt}};
  ArrayContents a = IdentityList(d);
  EXPECT_EQ(a.vartype, kVtUi2);
  EXPECT_EQ(a.count, 6u);
  EXPECT_EQ(a.data, (std::vector<uint8_t>{1, 0, 5, 0, 0, 0, 2, 3, 4, 5, 6, 7}));
  d.identity_list.count = 4;
  EXPECT_EQ(IdentityList(d).data, (std::vector<uint8_t>{1, 0, 5, 0, 0, 0, 2, 3}));
  d.identity_list.count = std::nullopt;
  d.identity_list.elements = std::vector<uint16_t>{9, 8, 7, 6, 5};
  a = IdentityList(d);
  EXPECT_EQ(a.count, 5u);
  EXPECT_EQ(a.data, (std::vector<uint8_t>{9, 0, 8, 0, 7, 0, 6, 0, 5, 0}));
  d.identity_list.vartype = kVtUi1;
  a = IdentityList(d);
  EXPECT_EQ(a.count, 10u);
  d.identities.clear();
  d.identity_list = {};
  EXPECT_EQ(IdentityList(d).count, 0u);
}

}  // namespace
