#include "bench/bench.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(BenchTest, ReadsEverySetting) {
  const Bench bench = ParseBench(R"({
    "comment": "all settings",
    "shared": true,
    "server_version": {"major": 2, "minor": "0x10"},
    "devices": [{
      "locator": "0xFEDCBA98", "endpoint_first": 4294967295, "endpoint_second": 65535,
      "group_id": 7, "family": "K27", "boot_branch": 1, "boot_version": 3, "state": 1200,
      "serial": -5, "identity_scope": 3, "identity_qualifier": 4, "code_version": [2, 1, 7],
      "label": "Bench", "patches": [{"offset": 1250, "hex": "de ad be ef 01 02"}],
      "identities": [{"kind": 1, "number": 5, "level": 0, "name": "Op"},
                     {"kind": 2, "number": 6, "level": 3, "name": null},
                     {"kind": 3, "number": 7, "level": 1}],
      "identity_list": {"lower_bound": -1, "elements": [1, 2, 65535]},
      "access_levels": {"0": "Full", "3": null},
      "status": {"ErasePoll": [17, 9]}
    }, {}],
    "detect_response": {"null": false, "vartype": "VT_UI2", "count": 2513, "lower_bound": 1},
    "faults": {"GetVersion": {"hresult": "0x80004005", "call": 2},
               "Program": [{"crash": true}, {"hresult": -2147024882}],
               "OpenDevice": {"no_reference": true}},
    "status": {"ErasePoll": [17, 17, 0], "Reset": 5},
    "delay_ms": {"Program": 1500}
  })");
  EXPECT_TRUE(bench.shared);
  EXPECT_EQ(bench.version_major, 2);
  EXPECT_EQ(bench.version_minor, 16);
  ASSERT_EQ(bench.devices.size(), 2u);
  const BenchDevice& d = bench.devices[0];
  EXPECT_EQ(d.locator, 0xFEDCBA98u);
  EXPECT_EQ(d.endpoint_first, 0xFFFFFFFFu);
  EXPECT_EQ(d.endpoint_second, 0xFFFF);
  EXPECT_EQ(d.serial, -5);
  EXPECT_EQ(d.code_version[2], 7);
  ASSERT_EQ(d.patches.size(), 1u);
  EXPECT_EQ(d.patches[0].bytes, (std::vector<uint8_t>{0xDE, 0xAD, 0xBE, 0xEF, 1, 2}));
  ASSERT_EQ(d.identities.size(), 3u);
  ASSERT_TRUE(d.identities[0].name);
  EXPECT_EQ(d.identities[0].name->text, "Op");
  ASSERT_TRUE(d.identities[1].name);
  EXPECT_TRUE(d.identities[1].name->null);
  EXPECT_FALSE(d.identities[2].name);
  EXPECT_EQ(d.identity_list.lower_bound, -1);
  EXPECT_EQ(*d.identity_list.elements, (std::vector<uint16_t>{1, 2, 65535}));
  EXPECT_EQ(d.access_level_names.at(0).text, "Full");
  EXPECT_TRUE(d.access_level_names.at(3).null);
  EXPECT_EQ(bench.detect_response.vartype, kVtUi2);
  EXPECT_EQ(bench.detect_response.count, 2513u);
  EXPECT_EQ(bench.detect_response.lower_bound, 1);
  EXPECT_EQ(bench.faults.at(Op::kGetVersion)[0].hresult, static_cast<int32_t>(0x80004005u));
  EXPECT_EQ(bench.faults.at(Op::kGetVersion)[0].call, 2u);
  EXPECT_EQ(bench.faults.at(Op::kProgram)[0].kind, Fault::Kind::kCrash);
  EXPECT_EQ(bench.faults.at(Op::kProgram)[1].hresult, static_cast<int32_t>(0x8007000Eu));
  EXPECT_EQ(bench.faults.at(Op::kOpenDevice)[0].kind, Fault::Kind::kNoReference);
  EXPECT_EQ(bench.statuses.at(Op::kErasePoll), (std::vector<uint16_t>{17, 17, 0}));
  EXPECT_EQ(bench.statuses.at(Op::kReset), (std::vector<uint16_t>{5}));
  EXPECT_EQ(d.statuses.at(Op::kErasePoll), (std::vector<uint16_t>{17, 9}));
  EXPECT_TRUE(bench.devices[1].statuses.empty());
  EXPECT_EQ(bench.delay_ms.at(Op::kProgram), 1500u);
}

TEST(BenchTest, UnsetFieldsTakeTheirDocumentedDefaults) {
  const Bench bench = ParseBench(R"({"devices": [{}, {}]})");
  EXPECT_FALSE(bench.shared);
  ASSERT_EQ(bench.devices.size(), 2u);
  // docs/bench.md: each device apart by its position in the list, from 1.
  for (uint32_t position : {1u, 2u}) {
    SCOPED_TRACE(position);
    const BenchDevice& d = bench.devices[position - 1];
    EXPECT_EQ(d.locator, position);
    EXPECT_EQ(d.endpoint_first, 0x0A000000u + position);
    EXPECT_EQ(d.endpoint_second, 1);
    EXPECT_EQ(d.group_id, 0x100u + position);
    EXPECT_EQ(d.family, "K27");
    EXPECT_EQ(d.identity_scope, 1);
    EXPECT_EQ(d.identity_qualifier, position);
    EXPECT_EQ(d.state, 0);
    EXPECT_EQ(d.serial, 0);
    EXPECT_EQ(d.label, "");
  }
  EXPECT_EQ(bench.version_major, 1);
  EXPECT_EQ(bench.version_minor, 6);
}

TEST(BenchTest, RefusesWhatCannotBePlayed) {
  struct Case {
    const char* json;
    const char* message;
  };
  const Case cases[] = {
      {R"({"devices": [{"serail": 9}]})", "devices[0].serail: unknown setting"},
      {R"({"sever_version": {}})", "bench.sever_version: unknown setting"},
      {R"({"devices": [{"state": 65536}]})", "devices[0].state: out of range 0 to 65535"},
      {R"({"devices": [{"state": -1}]})", "devices[0].state: out of range"},
      {R"({"devices": [{"serial": 2147483648}]})", ""},  // a 32-bit pattern: accepted
      {R"({"devices": [{"serial": 4294967296}]})", "devices[0].serial: out of range"},
      {R"({"devices": [{"locator": "0x1g"}]})", "devices[0].locator: not a number"},
      {R"({"devices": [{"locator": "0x"}]})", "devices[0].locator: not a number"},
      {R"({"devices": [{"locator": 1.5}]})", "devices[0].locator: must be a whole number"},
      {R"({"devices": [{"code_version": [1, 2]}]})", "devices[0].code_version: must be a list of three numbers"},
      {R"({"devices": [{"patches": [{"offset": 1250, "hex": "00112233445566"}]}]})",
       "devices[0].patches[0]: runs past the end of the 1256-byte record"},
      {R"({"devices": [{"patches": [{"offset": 1250, "hex": "001122334455"}]}]})", ""},
      {R"({"devices": [{"patches": [{"offset": 0, "hex": "abc"}]}]})", "odd number of hex digits"},
      {R"({"devices": [{"identities": [{"kind": 1, "number": 2}]}]})", "devices[0].identities[0].level: missing"},
      {R"({"devices": [{"access_levels": {"zero": "x"}}]})", "devices[0].access_levels.zero: not a number"},
      {R"({"detect_response": {"vartype": "VT_BSTR"}})", "detect_response.vartype: element type must be"},
      {R"({"detect_response": {"elements": [1]}})", "detect_response.elements: unknown setting"},
      {R"({"faults": {"Erase": {"crash": true}}})", "faults.Erase: no such operation"},
      {R"({"faults": {"Reset": {"crash": true, "hresult": 1}}})", "needs exactly one of hresult, crash, no_reference"},
      {R"({"faults": {"Reset": {}}})", "needs exactly one of"},
      {R"({"faults": {"Reset": {"no_reference": true}}})", "only CreateInstance, OpenDevice and OpenCodeProgramming"},
      {R"({"faults": {"Reset": {"crash": true, "call": 0}}})", "faults.Reset.call: out of range 1"},
      {R"({"faults": {"GetVersion": {"hresult": "0x100000000"}}})", "faults.GetVersion.hresult: out of range"},
      {R"({"status": {"GetVersion": 0}})", "status.GetVersion: this operation gives no status word"},
      {R"({"status": {"ErasePoll": []}})", "status.ErasePoll: needs at least one status word"},
      {R"({"devices": [{"status": {"OpenDevice": 0}}]})", "devices[0].status.OpenDevice: this operation gives no status word"},
      {R"({"delay_ms": {"Program": 600001}})", "delay_ms.Program: out of range"},
      {R"({"server_version": {"major": 1}})", "server_version: needs major and minor"},
      {R"({"shared": 1})", "shared: must be true or false"},
      {R"([1, 2])", "bench: must be an object"},
      {R"({"devices": )", "not valid JSON"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.json);
    if (*c.message == '\0') {
      EXPECT_NO_THROW(ParseBench(c.json));
      continue;
    }
    try {
      ParseBench(c.json);
      ADD_FAILURE() << "accepted";
    } catch (const BenchError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
  }
}

}  // namespace
