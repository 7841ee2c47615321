#include "server/connect_server.h"

#include <gtest/gtest.h>

#include <new>

#include "server/safe_array.h"
#include "support/fake_server.h"
#include "support/run_to_exit.h"

namespace {

CreateServer Handing(IDeviceServer* server, HRESULT hr = S_OK) {
  return [=](IDeviceServer** out) {
    *out = server;
    return hr;
  };
}

TEST(ConnectServerTest, TheClassIsTheDeviceServers) {
  CLSID expected;
  ASSERT_EQ(CLSIDFromString(L"{AF3D8AC6-A1AA-48D0-BB1D-65009ECCBA99}", &expected), S_OK);
  EXPECT_TRUE(IsEqualCLSID(CLSID_DeviceServerClass, expected));
  IID server_iid;
  ASSERT_EQ(IIDFromString(L"{7ADC3EE4-226F-4F84-82F7-20444C1F8C16}", &server_iid), S_OK);
  EXPECT_TRUE(IsEqualIID(IID_IDeviceServer, server_iid));
}

TEST(ConnectServerTest, VersionGate) {
  struct Row {
    unsigned short major, minor;
    bool accepted;
  } rows[] = {
      {0, 0, false},      {0, 9, false},   {0, 0xFFFF, false}, {1, 0, false},
      {1, 4, false},      {1, 5, true},    {1, 6, true},       {1, 0xFFFF, true},
      {2, 0, true},       {3, 0, true},    {0xFFFF, 0, true},
  };
  for (const Row& row : rows) {
    FakeDeviceServer server;
    server.major = row.major;
    server.minor = row.minor;
    IDeviceServer* connected = nullptr;
    Outcome outcome = RunToExit([&] { connected = ConnectServer(Handing(&server)); });
    EXPECT_EQ(server.calls, std::vector<std::string>{"GetVersion"});
    if (row.accepted) {
      EXPECT_FALSE(outcome.ended) << row.major << "." << row.minor;
      EXPECT_EQ(connected, &server);
      EXPECT_EQ(outcome.text, "");
    } else {
      EXPECT_TRUE(outcome.ended) << row.major << "." << row.minor;
      EXPECT_EQ(outcome.status, 1);
      EXPECT_EQ(outcome.text, "UNABLE TO CONTINUE - REQUIRE SERVER VERSION 1.5+\nPress space to exit\n");
    }
  }
}

TEST(ConnectServerTest, CreationRefusals) {
  FakeDeviceServer server;
  struct Row {
    IDeviceServer* handed;
    HRESULT hr;
    const char* message;  // null: connected
    bool asks_version;
  } rows[] = {
      // A failure is a failure, whatever came back with it.
      {&server, REGDB_E_CLASSNOTREG, "ERROR COMMUNICATING WITH SERVER", false},
      {nullptr, kFakeFailure, "ERROR COMMUNICATING WITH SERVER", false},
      {nullptr, S_OK, "COULD NOT CONNECT TO KORVEL SERVER", false},
      {nullptr, S_FALSE, "COULD NOT CONNECT TO KORVEL SERVER", false},
      {&server, S_FALSE, nullptr, true},
  };
  for (const Row& row : rows) {
    server.calls.clear();
    Outcome outcome = RunToExit([&] { ConnectServer(Handing(row.handed, row.hr)); });
    EXPECT_EQ(outcome.ended, row.message != nullptr) << std::hex << row.hr;
    if (row.message) {
      EXPECT_EQ(outcome.status, 1);
      EXPECT_EQ(outcome.message, row.message);
    }
    EXPECT_EQ(server.calls.size(), row.asks_version ? 1u : 0u);
  }
}

TEST(ConnectServerTest, VersionIsNotReadFromAFailedCall) {
  FakeDeviceServer server;
  server.major = 1;
  server.minor = 0;
  server.version_hr = kFakeFailure;
  Outcome outcome = RunToExit([&] { ConnectServer(Handing(&server)); });
  EXPECT_EQ(outcome.message, "ERROR COMMUNICATING WITH SERVER");
  EXPECT_EQ(outcome.status, 1);
}

TEST(UploadProfileTest, SendsExactlyTheProfileBytes) {
  // The profile is a view into a larger block: nothing around it is sent.
  std::vector<uint8_t> block(64);
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(0xA0 + i);
  for (uint32_t size : {0u, 1u, 4u, 40u}) {
    FakeDeviceServer server;
    Outcome outcome = RunToExit([&] { UploadProfile(&server, block.data() + 12, size); });
    EXPECT_FALSE(outcome.ended);
    EXPECT_EQ(server.calls, std::vector<std::string>{"LoadProfile"});
    ASSERT_EQ(server.loaded.size(), 1u);
    const SentArrayView& sent = server.loaded[0];
    EXPECT_EQ(sent.type, VT_UI1);
    EXPECT_EQ(sent.dimensions, 1u);
    EXPECT_EQ(sent.lower_bound, 0);
    EXPECT_EQ(sent.count, size);
    EXPECT_EQ(sent.locks, 1u);  // locked and filled before the call
    EXPECT_EQ(sent.bytes, std::vector<uint8_t>(block.begin() + 12, block.begin() + 12 + size));
  }
}

TEST(UploadProfileTest, FailedLoadEndsTheRun) {
  FakeDeviceServer server;
  server.load_profile_hr = kFakeFailure;
  uint8_t profile[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  Outcome outcome = RunToExit([&] { UploadProfile(&server, profile, sizeof profile); });
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.text, "ERROR COMMUNICATING WITH SERVER\nPress space to exit\n");
}

TEST(UploadProfileTest, AnArrayTooLargeToDescribeIsNoMemory) {
  // Nothing is read from the data before the array exists.
  uint8_t byte = 0;
  EXPECT_THROW(CreateSentByteArray(&byte, size_t{1} << 32), std::bad_alloc);
}

}  // namespace
