#include "server/identity_selection.h"

#include <gtest/gtest.h>

#include "support/fake_server.h"
#include "support/run_to_exit.h"
#include "support/test_device.h"

namespace {

DeviceRecord Chosen() {
  TestDevice d;
  d.identity_scope = 0x0102;      // 258
  d.identity_qualifier = 0x0304;  // 772
  return BuildDeviceRecord(d);
}

const char kQuery[] = "GetIdentities(258,772,0,0,1)";

TEST(SelectIdentityTest, ListsEveryIdentityAndChooses) {
  struct Row {
    std::vector<uint16_t> list;
    const char* lines;
    int identity;  // -1: none sufficient
  } rows[] = {
      {{}, "", -1},
      {{1, 5, 0}, "Access as Identity 1.5 : Level 0\n", 5},
      {{1, 5, 0, 1, 6, 0}, "Access as Identity 1.5 : Level 0\nAccess as Identity 1.6 : Level 0\n", 5},
      {{1, 5, 0, 2, 0, 0}, "Access as Identity 1.5 : Level 0\nAccess as Identity 2.0 : Level 0\n", 0},
      {{1, 0, 0, 1, 7, 0}, "Access as Identity 1.0 : Level 0\nAccess as Identity 1.7 : Level 0\n", 0},
      {{1, 0, 3, 1, 5, 2}, "Access as Identity 1.0 : Level 3\nAccess as Identity 1.5 : Level 2\n", -1},
      {{9, 4, 1, 3, 8, 0, 2, 0, 7},
       "Access as Identity 9.4 : Level 1\nAccess as Identity 3.8 : Level 0\n"
       "Access as Identity 2.0 : Level 7\n",
       8},
  };
  for (const Row& row : rows) {
    FakeDeviceServer server;
    server.identities = row.list;
    uint16_t identity = 0xFFFF;
    Outcome outcome = RunToExit([&] { identity = SelectIdentity(&server, Chosen()); });
    std::vector<std::string> calls = {kQuery};
    for (size_t i = 0; i + 2 < row.list.size(); i += 3) {
      calls.push_back("GetIdentityName(" + std::to_string(row.list[i]) + "," +
                      std::to_string(row.list[i + 1]) + ")");
      calls.push_back("GetAccessLevelName(" + std::to_string(row.list[i + 2]) + ")");
    }
    EXPECT_EQ(server.calls, calls) << row.lines;
    if (row.identity < 0) {
      EXPECT_EQ(outcome.status, 1);
      EXPECT_EQ(outcome.text, std::string(row.lines) +
                                  "NO IDENTITY WITH SUFFICIENT ACCESS FOUND\nPress space to exit\n");
    } else {
      EXPECT_FALSE(outcome.ended) << row.lines;
      EXPECT_EQ(outcome.text, row.lines);
      EXPECT_EQ(identity, row.identity) << row.lines;
      EXPECT_EQ(server.ToolLocks(), std::vector<ULONG>{0});  // unlocked by the tool
    }
  }
}

TEST(SelectIdentityTest, IdentityListChecks) {
  struct Row {
    const char* name;
    std::function<SAFEARRAY*()> make;
    const char* message;  // null: accepted
  } rows[] = {
      {"4 elements", [] { return MakeUi2Array({1, 5, 0, 1}); }, "DEVICE DETECT RESPONSE INVALID"},
      {"5 elements", [] { return MakeUi2Array({1, 5, 0, 1, 6}); }, "DEVICE DETECT RESPONSE INVALID"},
      {"6 elements", [] { return MakeUi2Array({1, 5, 0, 1, 6, 0}); }, nullptr},
      {"null", [] { return static_cast<SAFEARRAY*>(nullptr); }, "DEVICE DETECT RESPONSE INVALID"},
      {"VT_UI1", [] { return MakeByteArray({1, 0, 5, 0, 0, 0}); }, "DEVICE DETECT RESPONSE INVALID"},
      {"VT_I2", [] {
         SAFEARRAYBOUND bound = {3, 0};
         return SafeArrayCreate(VT_I2, 1, &bound);
       }, "DEVICE DETECT RESPONSE INVALID"},
      {"not lockable", [] {
         SAFEARRAY* a = MakeUi2Array({1, 5, 0});
         a->cLocks = 0xFFFF;
         return a;
       }, "DEVICE DETECT RESPONSE INVALID"},
      {"no dimensions", [] {
         SAFEARRAY* a = MakeUi2Array({1, 5, 0});
         a->cDims = 0;
         return a;
       }, "DEVICE DETECT RESPONSE INVALID"},
      {"lower bound 1", [] { return MakeUi2Array({1, 5, 0, 1, 6, 0}, 1); }, nullptr},
  };
  for (const Row& row : rows) {
    FakeDeviceServer server;
    server.identity_list = row.make;
    uint16_t identity = 0xFFFF;
    Outcome outcome = RunToExit([&] { identity = SelectIdentity(&server, Chosen()); });
    if (row.message) {
      EXPECT_EQ(outcome.status, 1) << row.name;
      EXPECT_EQ(outcome.text, std::string(row.message) + "\nPress space to exit\n") << row.name;
      EXPECT_EQ(server.calls, std::vector<std::string>{kQuery}) << row.name;
    } else {
      EXPECT_FALSE(outcome.ended) << row.name;
      EXPECT_EQ(identity, 5) << row.name;
      EXPECT_EQ(outcome.text, "Access as Identity 1.5 : Level 0\nAccess as Identity 1.6 : Level 0\n")
          << row.name;
    }
  }
}

TEST(SelectIdentityTest, FailedCallsEndTheRunBeforeTheirLine) {
  struct Row {
    const char* name;
    HRESULT list_hr;
    int failing_name;   // index of the triple whose identity name fails, or -1
    int failing_level;  // likewise for the access level name
    const char* lines;
    size_t calls;
  } rows[] = {
      {"list", kFakeFailure, -1, -1, "", 1},
      {"first name", S_OK, 0, -1, "", 2},
      {"second name", S_OK, 1, -1, "Access as Identity 1.5 : Level 0\n", 4},
      {"second level", S_OK, -1, 1, "Access as Identity 1.5 : Level 0\n", 5},
  };
  for (const Row& row : rows) {
    FakeDeviceServer server;
    server.identities = {1, 5, 0, 1, 6, 0};
    server.identities_hr = row.list_hr;
    int names = 0;
    server.identity_name = [&](unsigned short, unsigned short number, BSTR* name) {
      *name = SysAllocString((L"Identity 1." + std::to_wstring(number)).c_str());
      return names++ == row.failing_name ? kFakeFailure : S_OK;
    };
    int levels = 0;
    server.level_name = [&](unsigned short level, BSTR* name) {
      *name = SysAllocString((L"Level " + std::to_wstring(level)).c_str());
      return levels++ == row.failing_level ? kFakeFailure : S_OK;
    };
    Outcome outcome = RunToExit([&] { SelectIdentity(&server, Chosen()); });
    EXPECT_EQ(outcome.status, 1) << row.name;
    EXPECT_EQ(outcome.text, std::string(row.lines) + "ERROR COMMUNICATING WITH SERVER\nPress space to exit\n")
        << row.name;
    EXPECT_EQ(server.calls.size(), row.calls) << row.name;
  }
}

TEST(SelectIdentityTest, NamesPrintWideAndNullAsEmpty) {
  FakeDeviceServer server;
  server.identities = {1, 5, 0, 2, 6, 0};
  server.identity_name = [](unsigned short kind, unsigned short, BSTR* name) {
    *name = kind == 1 ? SysAllocString(L"Op\u00e9rateur \u20ac") : nullptr;
    return S_OK;
  };
  server.level_name = [](unsigned short, BSTR* name) {
    static int calls = 0;
    *name = calls++ == 0 ? nullptr : SysAllocString(L"Full");
    return S_OK;
  };
  Outcome outcome = RunToExit([&] { SelectIdentity(&server, Chosen()); });
  EXPECT_FALSE(outcome.ended);
  EXPECT_EQ(outcome.text, "Access as Op\xC3\xA9rateur \xE2\x82\xAC : \nAccess as  : Full\n");
}

// A name of `count` characters that shows where it was cut, narrow and wide.
std::string NameLetters(size_t count) {
  std::string text;
  for (size_t i = 0; i < count; ++i) text += i % 10 ? static_cast<char>('a' + i % 26) : static_cast<char>('0' + i / 10 % 10);
  return text;
}
std::wstring WideName(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

std::wstring Repeat(const std::wstring& text, size_t times) {
  std::wstring out;
  for (size_t i = 0; i < times; ++i) out += text;
  return out;
}
std::string Repeat(const std::string& text, size_t times) {
  std::string out;
  for (size_t i = 0; i < times; ++i) out += text;
  return out;
}

TEST(SelectIdentityTest, NamesOfAnyLengthPrintWhole) {
  // Whatever the server names: around and far beyond the size of a small
  // formatting buffer, in either name, and beyond ASCII.
  struct Row {
    std::wstring identity, level;
    std::string line;
  } rows[] = {
      {L"", L"", "Access as  : \n"},
      {WideName(NameLetters(229)), L"Full", "Access as " + NameLetters(229) + " : Full\n"},
      {WideName(NameLetters(240)), L"Full", "Access as " + NameLetters(240) + " : Full\n"},
      {WideName(NameLetters(243)), L"", "Access as " + NameLetters(243) + " : \n"},
      {WideName(NameLetters(300)), WideName(NameLetters(300)), "Access as " + NameLetters(300) + " : " + NameLetters(300) + "\n"},
      {L"Operator", WideName(NameLetters(4000)), "Access as Operator : " + NameLetters(4000) + "\n"},
      {WideName(NameLetters(70000)), L"Code programming", "Access as " + NameLetters(70000) + " : Code programming\n"},
      {WideName(NameLetters(100000)), L"x", "Access as " + NameLetters(100000) + " : x\n"},
      {Repeat(L"\u65e5", 300), Repeat(L"\U0001F600", 100),
       "Access as " + Repeat("\xE6\x97\xA5", 300) + " : " + Repeat("\xF0\x9F\x98\x80", 100) + "\n"},
  };
  for (const Row& row : rows) {
    FakeDeviceServer server;
    server.identities = {1, 5, 0};
    server.identity_name = [&](unsigned short, unsigned short, BSTR* name) {
      *name = SysAllocStringLen(row.identity.data(), static_cast<UINT>(row.identity.size()));
      return S_OK;
    };
    server.level_name = [&](unsigned short, BSTR* name) {
      *name = SysAllocStringLen(row.level.data(), static_cast<UINT>(row.level.size()));
      return S_OK;
    };
    Outcome outcome = RunToExit([&] { SelectIdentity(&server, Chosen()); });
    EXPECT_FALSE(outcome.ended);
    ASSERT_EQ(outcome.text.size(), row.line.size()) << row.identity.size() << " + " << row.level.size();
    EXPECT_TRUE(outcome.text == row.line) << "the line differs; lengths " << row.identity.size() << " + "
                                          << row.level.size();
  }
}

TEST(OpenProgrammingInterfaceTest, OpensTheDeviceThenItsCodeProgrammingAsTheIdentity) {
  TestDevice d;
  d.locator = 0x80000001;
  d.endpoint_first = 0xFFFFFFFE;
  d.endpoint_second = 0xBEEF;
  d.identity_scope = 0x7777;
  DeviceRecord record = BuildDeviceRecord(d);
  FakeDeviceServer server;
  ProgrammingInterfaces opened;
  Outcome outcome = RunToExit([&] { opened = OpenProgrammingInterface(&server, record, 0x8005); });
  EXPECT_FALSE(outcome.ended);
  EXPECT_EQ(outcome.text, "");
  // The record's identity scope goes with the identity, not a triple's kind.
  EXPECT_EQ(server.calls, (std::vector<std::string>{"OpenDevice(2147483649,4294967294,48879)",
                                                    "OpenCodeProgramming(30583,32773)"}));
  EXPECT_EQ(opened.device, &server.device);
  EXPECT_EQ(opened.programming, server.device.programming);
  EXPECT_NE(opened.programming, nullptr);
}

TEST(OpenProgrammingInterfaceTest, Refusals) {
  struct Row {
    const char* name;
    HRESULT device_hr;
    bool device_null;
    HRESULT programming_hr;
    bool programming_null;
    const char* message;
    size_t calls;
  } rows[] = {
      {"device fails", kFakeFailure, false, S_OK, false, "ERROR COMMUNICATING WITH SERVER", 1},
      {"no device", S_OK, true, S_OK, false, "COULD NOT ACQUIRE DEVICE INTERFACE", 1},
      {"programming fails", S_OK, false, kFakeFailure, false, "ERROR COMMUNICATING WITH SERVER", 2},
      {"no programming", S_OK, false, S_FALSE, true, "COULD NOT ACQUIRE CODE PROGRAMMING INTERFACE", 2},
  };
  for (const Row& row : rows) {
    FakeDeviceServer server;
    server.open_device_hr = row.device_hr;
    server.open_device_null = row.device_null;
    server.device.open_hr = row.programming_hr;
    if (row.programming_null) server.device.programming = nullptr;
    Outcome outcome = RunToExit([&] { OpenProgrammingInterface(&server, Chosen(), 0); });
    EXPECT_EQ(outcome.status, 1) << row.name;
    EXPECT_EQ(outcome.text, std::string(row.message) + "\nPress space to exit\n") << row.name;
    EXPECT_EQ(server.calls.size(), row.calls) << row.name;
  }
}

}  // namespace
