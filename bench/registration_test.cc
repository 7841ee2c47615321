#include "bench/registration.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "k27server.h"
#include "lib/arguments.h"

// Values as gtest shows them: type and text.
void PrintTo(const RegValue& value, std::ostream* out) {
  const std::wstring text = ValueText(value).value_or(L"(binary)");
  *out << "type " << value.type << " \"" << std::string(text.begin(), text.end()) << "\"";
}
void PrintTo(const RegisteredFiles& files, std::ostream* out) {
  *out << "bench \"" << std::string(files.bench.begin(), files.bench.end()) << "\", journal \""
       << std::string(files.journal.begin(), files.journal.end()) << "\"";
}

namespace {

// A root of classes in memory. Keys and value names are not case-sensitive,
// as in the registry; a write may be made to fail, for the undo.
class FakeRoot : public ClassesRoot {
 public:
  using Values = std::map<std::wstring, RegValue>;
  std::map<std::wstring, Values> keys;
  int fail_at = -1;  // the write that fails, counted from 0; -1: none
  int writes = 0;
  std::wstring name = L"HKLM\\Software\\Classes";

  std::wstring Name() const override { return name; }
  bool KeyExists(const std::wstring& key) override { return keys.count(Lower(key)) != 0; }
  std::optional<RegValue> Read(const std::wstring& key, const std::wstring& name) override {
    auto k = keys.find(Lower(key));
    if (k == keys.end()) return std::nullopt;
    auto v = k->second.find(Lower(name));
    if (v == k->second.end()) return std::nullopt;
    return v->second;
  }
  long Write(const std::wstring& key, const std::wstring& name, const RegValue& value) override {
    if (writes++ == fail_at) return 5;  // ERROR_ACCESS_DENIED
    const std::wstring lower = Lower(key);
    for (size_t at = lower.find(L'\\'); at != std::wstring::npos; at = lower.find(L'\\', at + 1)) {
      keys[lower.substr(0, at)];
    }
    keys[lower][Lower(name)] = value;
    return 0;
  }
  long DeleteValue(const std::wstring& key, const std::wstring& name) override {
    auto k = keys.find(Lower(key));
    if (k == keys.end() || !k->second.erase(Lower(name))) return 2;
    return 0;
  }
  std::vector<std::wstring> ValueNames(const std::wstring& key) override {
    std::vector<std::wstring> names;
    auto k = keys.find(Lower(key));
    if (k != keys.end()) {
      for (const auto& [name, value] : k->second) names.push_back(name);
    }
    return names;
  }
  bool KeyIsEmpty(const std::wstring& key) override {
    const std::wstring lower = Lower(key);
    auto k = keys.find(lower);
    if (k == keys.end() || !k->second.empty()) return false;
    auto next = keys.upper_bound(lower);
    return next == keys.end() || next->first.rfind(lower + L"\\", 0) != 0;
  }
  long DeleteEmptyKey(const std::wstring& key) override {
    if (!KeyIsEmpty(key)) return 5;
    keys.erase(Lower(key));
    return 0;
  }

  std::wstring Text(const std::wstring& key, const std::wstring& name = L"") {
    std::optional<RegValue> v = Read(key, name);
    return v ? ValueText(*v).value_or(L"?") : L"(none)";
  }
};

const std::wstring kServer = L"CLSID\\" + RegistryGuid(CLSID_DeviceServerClass);
const std::wstring kProxy = std::wstring(L"CLSID\\") + kProxyClassText;
const std::wstring kDeviceServerKey = L"Interface\\" + RegistryGuid(IID_IDeviceServer);

RegistrationPaths Paths(const std::wstring& bench = L"", const std::wstring& journal = L"") {
  return {L"C:\\K27 kit\\bench-kit\\k27sim.exe", L"C:\\K27 kit\\bench-kit\\k27ps.dll", bench, journal};
}

// What a PC holds before the kit arrives: other classes and interfaces.
FakeRoot OtherClasses() {
  FakeRoot root;
  root.Write(L"CLSID\\{00000000-1111-2222-3333-444444444444}\\LocalServer32", L"", StringValue(L"C:\\other.exe"));
  root.Write(L"Interface\\{00000000-1111-2222-3333-555555555555}\\ProxyStubClsid32", L"",
             StringValue(L"{00020424-0000-0000-C000-000000000046}"));
  return root;
}

// The vendor's device server, registered by its installer.
FakeRoot VendorServer() {
  FakeRoot root = OtherClasses();
  root.Write(kServer, L"", StringValue(L"Device server"));
  RegValue expand = StringValue(L"%ProgramFiles%\\Vendor\\devserver.exe");
  expand.type = 2;  // REG_EXPAND_SZ
  root.Write(kServer + L"\\LocalServer32", L"", expand);
  root.Write(kServer + L"\\LocalServer32", L"ServerExecutable", StringValue(L"C:\\Vendor\\devserver.exe"));
  root.Write(kServer, L"AppID", StringValue(L"{22222222-3333-4444-5555-666666666666}"));
  root.Write(kDeviceServerKey, L"", StringValue(L"IDeviceServer"));
  root.Write(kDeviceServerKey + L"\\ProxyStubClsid32", L"", StringValue(L"{11111111-2222-3333-4444-555555555555}"));
  root.Write(kDeviceServerKey + L"\\NumMethods", L"", StringValue(L"16"));
  return root;
}

TEST(RegistrationTest, WritesTheDocumentedKeysAndRemovesExactlyThem) {
  FakeRoot root = OtherClasses();
  const auto before = root.keys;
  EXPECT_FALSE(ForeignRegistration(root));
  ASSERT_EQ(WriteRegistration(root, Paths(L"C:\\b.json", L"C:\\run\\journal.jsonl")), 0);
  EXPECT_FALSE(ForeignRegistration(root));  // a simulator's own is not foreign

  EXPECT_EQ(root.Text(kServer), kClassDescription);
  // The command line is the program alone, wherever the files are.
  EXPECT_EQ(root.Text(kServer + L"\\LocalServer32"), L"\"C:\\K27 kit\\bench-kit\\k27sim.exe\"");
  EXPECT_EQ(root.Text(kServer, kBenchValueName), L"C:\\b.json");
  EXPECT_EQ(root.Text(kServer, kJournalValueName), L"C:\\run\\journal.jsonl");
  EXPECT_EQ(RegisteredBenchAndJournal(root), (RegisteredFiles{L"C:\\b.json", L"C:\\run\\journal.jsonl"}));
  // Method counts as docs/bench.md gives them, IUnknown's three included.
  const struct {
    const IID& iid;
    const wchar_t* name;
    const wchar_t* methods;
  } interfaces[] = {{IID_IDeviceServer, L"IDeviceServer", L"16"},
                    {IID_IDeviceInterface, L"IDeviceInterface", L"30"},
                    {IID_ICodeProgramming, L"ICodeProgramming", L"9"}};
  for (const auto& i : interfaces) {
    const std::wstring key = L"Interface\\" + RegistryGuid(i.iid);
    EXPECT_EQ(root.Text(key), i.name);
    EXPECT_EQ(root.Text(key + L"\\NumMethods"), i.methods);
    EXPECT_EQ(root.Text(key + L"\\ProxyStubClsid32"), kProxyClassText);
  }
  EXPECT_EQ(root.Text(kProxy), L"PSFactoryBuffer");
  EXPECT_EQ(root.Text(kProxy + L"\\InProcServer32"), L"C:\\K27 kit\\bench-kit\\k27ps.dll");
  EXPECT_EQ(root.Text(kProxy + L"\\InProcServer32", L"ThreadingModel"), L"Both");
  // Nothing but the documented keys (and their parents) was added.
  EXPECT_EQ(root.keys.size(), before.size() + 2 + 3 * 3 + 2);

  const Removal removal = RemoveRegistration(root);
  EXPECT_EQ(removal.error, 0);
  EXPECT_TRUE(removal.removed);
  EXPECT_TRUE(removal.left_alone.empty());
  EXPECT_EQ(root.keys, before);
}

TEST(RegistrationTest, AStateFileNamedTravelsBesideTheBenchAndGoesWithIt) {
  FakeRoot root = OtherClasses();
  const auto before = root.keys;
  RegistrationPaths paths = Paths(L"C:\\b.json", L"C:\\run\\journal.jsonl");
  paths.state = L"D:\\line\\bench.state.json";
  ASSERT_EQ(WriteRegistration(root, paths), 0);
  EXPECT_EQ(root.Text(kServer, kStateValueName), L"D:\\line\\bench.state.json");
  EXPECT_EQ(RegisteredBenchAndJournal(root),
            (RegisteredFiles{L"C:\\b.json", L"C:\\run\\journal.jsonl", L"D:\\line\\bench.state.json"}));
  // Registered again without one: the state goes beside the journal.
  ASSERT_EQ(WriteRegistration(root, Paths(L"C:\\b.json", L"C:\\run\\journal.jsonl")), 0);
  EXPECT_FALSE(root.Read(kServer, kStateValueName));
  EXPECT_TRUE(RemoveRegistration(root).removed);
  EXPECT_EQ(root.keys, before);
}

TEST(RegistrationTest, RegisteringAgainReplacesASimulatorsRegistration) {
  FakeRoot root = OtherClasses();
  const auto before = root.keys;
  // An older kit in another folder, registered with a bench.
  RegistrationPaths old = Paths(L"C:\\old.json");
  old.exe = L"C:\\OLD KIT\\K27SIM.EXE";
  ASSERT_EQ(WriteRegistration(root, old), 0);
  EXPECT_FALSE(ForeignRegistration(root));
  ASSERT_EQ(WriteRegistration(root, Paths()), 0);
  EXPECT_EQ(root.Text(kServer + L"\\LocalServer32"), L"\"C:\\K27 kit\\bench-kit\\k27sim.exe\"");
  EXPECT_EQ(root.Text(kServer + L"\\LocalServer32", DisplacedName(L"")), L"(none)");
  // The old bench goes with it: the built-in bench now.
  EXPECT_EQ(RegisteredBenchAndJournal(root), RegisteredFiles{});
  EXPECT_TRUE(RemoveRegistration(root).removed);
  EXPECT_EQ(root.keys, before);
}

TEST(RegistrationTest, ForeignRegistrationsAreNamedAndNeverRemoved) {
  struct Write {
    std::wstring key, name, value;
  };
  const Write simulator = {kServer + L"\\LocalServer32", L"", L"\"C:\\K27 kit\\bench-kit\\k27sim.exe\""};
  struct Row {
    const char* what;
    std::vector<Write> writes;
    std::wstring described;  // part of the description
  } rows[] = {
      {"another local server", {{kServer + L"\\LocalServer32", L"", L"C:\\Vendor\\devserver.exe /x"}},
       L"the device server's class {AF3D8AC6-A1AA-48D0-BB1D-65009ECCBA99} is registered to C:\\Vendor\\devserver.exe /x "
       L"in HKLM\\Software\\Classes"},
      {"an in-process server", {{kServer + L"\\InprocServer32", L"", L"C:\\Vendor\\dev.dll"}}, L"C:\\Vendor\\dev.dll"},
      {"a server named like the simulator but not it",
       {{kServer + L"\\LocalServer32", L"", L"\"C:\\x\\k27sim.exe.old\\devserver.exe\""}}, L"devserver.exe"},
      // COM starts ServerExecutable, with the default value as its command line.
      {"the simulator's command line for another program",
       {simulator, {kServer + L"\\LocalServer32", L"ServerExecutable", L"C:\\Vendor\\devserver.exe"}},
       L"the device server's class {AF3D8AC6-A1AA-48D0-BB1D-65009ECCBA99} is registered to start (ServerExecutable) "
       L"C:\\Vendor\\devserver.exe in HKLM\\Software\\Classes"},
      {"the simulator's command line under an application of its own",
       {simulator, {kServer, L"AppID", L"{22222222-3333-4444-5555-666666666666}"}},
       L"is registered to the application (which may name a service COM starts instead) AppID "
       L"{22222222-3333-4444-5555-666666666666}"},
      {"another proxy for IDeviceServer",
       {{kDeviceServerKey + L"\\ProxyStubClsid32", L"", L"{00020424-0000-0000-C000-000000000046}"}},
       L"the IDeviceServer interface {7ADC3EE4-226F-4F84-82F7-20444C1F8C16} is marshalled by "
       L"{00020424-0000-0000-C000-000000000046}"},
      {"another proxy for ICodeProgramming",
       {{L"Interface\\{C4E9A7D3-1B62-4F08-A5C7-93D2E6F10B4A}\\ProxyStubClsid32", L"",
         L"{99999999-0000-0000-0000-000000000000}"}},
       L"ICodeProgramming"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    FakeRoot root = OtherClasses();
    for (const Write& w : row.writes) root.Write(w.key, w.name, StringValue(w.value));
    const auto before = root.keys;
    const std::optional<std::wstring> foreign = ForeignRegistration(root);
    ASSERT_TRUE(foreign);
    EXPECT_NE(foreign->find(row.described), std::wstring::npos) << std::string(foreign->begin(), foreign->end());
    const Removal removal = RemoveRegistration(root);
    EXPECT_EQ(removal.error, 0);
    EXPECT_FALSE(removal.removed);
    ASSERT_EQ(removal.left_alone.size(), 1u);
    EXPECT_EQ(removal.left_alone[0], *foreign);
    EXPECT_EQ(root.keys, before);
  }
}

TEST(RegistrationTest, AForcedRegistrationPutsBackWhatItDisplaced) {
  FakeRoot root = VendorServer();
  const auto before = root.keys;
  ASSERT_TRUE(ForeignRegistration(root));
  ASSERT_EQ(WriteRegistration(root, Paths(L"C:\\b.json")), 0);
  // The simulator holds the class now, and the vendor's values are kept.
  EXPECT_FALSE(ForeignRegistration(root));
  EXPECT_EQ(root.Text(kServer + L"\\LocalServer32"), L"\"C:\\K27 kit\\bench-kit\\k27sim.exe\"");
  EXPECT_EQ(RegisteredBenchAndJournal(root).bench, L"C:\\b.json");
  std::optional<RegValue> kept = root.Read(kServer + L"\\LocalServer32", DisplacedName(L""));
  ASSERT_TRUE(kept);
  EXPECT_EQ(kept->type, 2u);
  EXPECT_EQ(root.Text(kDeviceServerKey + L"\\ProxyStubClsid32"), kProxyClassText);
  // Nothing left that would have COM start the vendor's program instead.
  EXPECT_EQ(root.Text(kServer + L"\\LocalServer32", L"ServerExecutable"), L"(none)");
  EXPECT_EQ(root.Text(kServer, L"AppID"), L"(none)");
  EXPECT_EQ(root.Text(kServer + L"\\LocalServer32", DisplacedName(L"ServerExecutable")), L"C:\\Vendor\\devserver.exe");
  EXPECT_EQ(root.Text(kServer, DisplacedName(L"AppID")), L"{22222222-3333-4444-5555-666666666666}");
  // Registering again (another bench) keeps the first displaced value.
  ASSERT_EQ(WriteRegistration(root, Paths(L"C:\\other.json")), 0);
  EXPECT_EQ(root.Read(kServer + L"\\LocalServer32", DisplacedName(L"")), kept);

  const Removal removal = RemoveRegistration(root);
  EXPECT_TRUE(removal.removed);
  EXPECT_EQ(root.keys, before);  // the vendor's server is back, type and all
  EXPECT_TRUE(ForeignRegistration(root));
}

TEST(RegistrationTest, AFailedWriteLeavesTheRootAsItWas) {
  for (const bool vendor : {false, true}) {
    for (int fail_after = 0; fail_after < 24; ++fail_after) {
      SCOPED_TRACE(testing::Message() << "vendor " << vendor << ", failing write " << fail_after + 1);
      FakeRoot root = vendor ? VendorServer() : OtherClasses();
      const auto before = root.keys;
      root.fail_at = root.writes + fail_after;
      const long error = WriteRegistration(root, Paths(L"C:\\b.json"));
      if (error == 0) {
        EXPECT_GE(fail_after, 15);  // every write went through
        continue;
      }
      EXPECT_EQ(error, 5);
      EXPECT_EQ(root.keys, before);
    }
  }
}

// The files a server COM started plays: from the registration COM read, as
// the server's integrity level tells it, never from a user's values beside
// an elevated server or from a key that does not name the server itself.
TEST(RegistrationTest, AServerPlaysTheFilesOfTheRegistrationComStartedItBy) {
  const std::wstring kit = L"C:\\K27 kit\\bench-kit\\k27sim.exe";
  const std::wstring other_kit = L"D:\\share\\k27sim.exe";
  auto registered = [](FakeRoot& root, const std::wstring& exe, const std::wstring& bench, const std::wstring& journal) {
    RegistrationPaths paths = Paths(bench, journal);
    paths.exe = exe;
    ASSERT_EQ(WriteRegistration(root, paths), 0);
  };
  struct Row {
    const char* what;
    bool elevated;
    std::function<void(FakeRoot& user, FakeRoot& machine)> arrange;
    RegisteredFiles files;
  } rows[] = {
      {"elevated: the user's values, naming other files, are never read", true,
       [&](FakeRoot& user, FakeRoot& machine) {
         registered(user, kit, L"\\\\share\\theirs.json", L"C:\\Windows\\planted.jsonl");
         registered(machine, kit, L"C:\\K27\\bench.json", L"C:\\K27\\runs\\j.jsonl");
       },
       {L"C:\\K27\\bench.json", L"C:\\K27\\runs\\j.jsonl"}},
      {"elevated, registered for the user alone: started by hand, the built-in bench", true,
       [&](FakeRoot& user, FakeRoot&) { registered(user, kit, L"C:\\user.json", L""); }, {}},
      {"unelevated: the user's registration outranks the machine's", false,
       [&](FakeRoot& user, FakeRoot& machine) {
         registered(user, kit, L"C:\\user.json", L"C:\\user.jsonl");
         registered(machine, kit, L"C:\\K27\\bench.json", L"");
       },
       {L"C:\\user.json", L"C:\\user.jsonl"}},
      {"unelevated, the user's registration naming another program: its files are that one's", false,
       [&](FakeRoot& user, FakeRoot& machine) {
         registered(user, other_kit, L"C:\\user.json", L"C:\\user.jsonl");
         registered(machine, kit, L"C:\\K27\\bench.json", L"");
       },
       {L"C:\\K27\\bench.json", L""}},
      {"unelevated, the user's values without a LocalServer32 beside them", false,
       [&](FakeRoot& user, FakeRoot& machine) {
         user.Write(kServer, kBenchValueName, StringValue(L"C:\\user.json"));
         user.Write(kServer, kJournalValueName, StringValue(L"C:\\user.jsonl"));
         registered(machine, kit, L"C:\\K27\\bench.json", L"");
       },
       {L"C:\\K27\\bench.json", L""}},
      {"a device server's registration is never read", false,
       [&](FakeRoot&, FakeRoot& machine) {
         machine = VendorServer();
         machine.Write(kServer, kBenchValueName, StringValue(L"C:\\vendor.json"));
       },
       {}},
      {"none names this program: the built-in bench", false,
       [&](FakeRoot& user, FakeRoot& machine) {
         registered(user, other_kit, L"C:\\user.json", L"");
         registered(machine, other_kit, L"C:\\K27\\bench.json", L"");
       },
       {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    FakeRoot user, machine;
    user.name = L"HKCU\\Software\\Classes";
    row.arrange(user, machine);
    const RegisteredFiles files = ServedFiles(row.elevated, user, machine, [&](const std::wstring& registered) {
      return Lower(registered) == Lower(kit);
    });
    EXPECT_EQ(files, row.files);
  }
}

// Under Wine a command line, with its quotes and " -Embedding", must stay
// below 260 characters; on Windows only the path must.
TEST(RegistrationTest, ThePathFormEachPlatformStarts) {
  struct Row {
    size_t length;
    bool wine;
    PathForm form;
  } rows[] = {
      {246, true, PathForm::kAsItIs},   {247, true, PathForm::kShortForm}, {259, true, PathForm::kShortForm},
      {260, true, PathForm::kTooLong},  {246, false, PathForm::kAsItIs},   {247, false, PathForm::kAsItIs},
      {259, false, PathForm::kAsItIs},  {260, false, PathForm::kTooLong},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(RegisteredPathForm(row.length, row.wine), row.form) << row.length << (row.wine ? " under Wine" : "");
  }
}

TEST(RegistrationTest, AForcedRegistrationRecordsWhatItWasForcedOver) {
  FakeRoot root;  // the user's classes
  root.name = L"HKCU\\Software\\Classes";
  RegistrationPaths paths = Paths();
  paths.forced_over = {L"C:\\Vendor\\devserver.exe", L"AppID {22222222-3333-4444-5555-666666666666}"};
  ASSERT_EQ(WriteRegistration(root, paths), 0);
  EXPECT_EQ(root.Text(kServer, kForcedOverName),
            L"C:\\Vendor\\devserver.exe\nAppID {22222222-3333-4444-5555-666666666666}");
  EXPECT_FALSE(ForeignRegistration(root));
  // Registered again with nothing to force over: no record is left.
  ASSERT_EQ(WriteRegistration(root, Paths()), 0);
  EXPECT_EQ(root.Text(kServer, kForcedOverName), L"(none)");
  ASSERT_EQ(WriteRegistration(root, paths), 0);
  EXPECT_TRUE(RemoveRegistration(root).removed);
  EXPECT_TRUE(root.keys.empty());  // in an empty root the parents go too
  // Nothing there: nothing removed, nothing refused.
  const Removal again = RemoveRegistration(root);
  EXPECT_FALSE(again.removed);
  EXPECT_EQ(again.error, 0);
}

TEST(RegistrationTest, ForeignServerProgramsNameWhatComWouldStart) {
  FakeRoot empty, vendor = VendorServer(), simulator = OtherClasses();
  ASSERT_EQ(WriteRegistration(simulator, Paths()), 0);
  FakeRoot plain = OtherClasses();
  plain.Write(kServer + L"\\LocalServer32", L"", StringValue(L"\"C:\\Program Files\\Vendor\\devserver.exe\" -x"));
  EXPECT_EQ(ForeignServerPrograms({&empty, &simulator}), std::vector<std::wstring>{});
  EXPECT_EQ(ForeignServerPrograms({&vendor, &empty, &plain}),
            (std::vector<std::wstring>{L"%ProgramFiles%\\Vendor\\devserver.exe",
                                       L"\"C:\\Program Files\\Vendor\\devserver.exe\" -x"}));
}

// The machine's classes in its two registry views, and the user's.
struct Pc {
  FakeRoot user, machine, machine_32;
  Pc() {
    user.name = L"HKCU\\Software\\Classes";
    machine_32.name = L"HKLM\\Software\\Classes (32-bit view)";
  }
  ServeDecision Decide() { return DecideServing(user, {&machine, &machine_32}); }
};

FakeRoot WithVendor(const std::wstring& command, const std::wstring& name = L"HKLM\\Software\\Classes") {
  FakeRoot root = OtherClasses();
  root.name = name;
  root.Write(kServer + L"\\LocalServer32", L"", StringValue(command));
  return root;
}

TEST(RegistrationTest, AUsersSimulatorNeverStandsInForTheMachinesDeviceServer) {
  const std::wstring vendor = L"\"C:\\Program Files\\Vendor\\devserver.exe\"";
  const std::wstring other_vendor = L"\"C:\\Program Files\\Other\\server.exe\"";
  const std::wstring refusal_end =
      L"; so it refuses every creation, since a run against it would pass for one against the device server. "
      L"Remove it (k27sim /UnregServerPerUser), or register it with /RegServerPerUser /force on a PC that never "
      L"programs devices";
  struct Row {
    const char* what;
    std::function<void(Pc&)> arrange;
    bool serve;
    std::wstring reason;  // exact; empty: none
  } rows[] = {
      {"nothing registered for the user: the machine's registration started it", [&](Pc& pc) {
         pc.machine = WithVendor(vendor);
       }, true, L""},
      {"the user's simulator, no device server", [&](Pc& pc) { WriteRegistration(pc.user, Paths()); }, true, L""},
      {"the user's simulator over the machine's simulator", [&](Pc& pc) {
         WriteRegistration(pc.user, Paths());
         RegistrationPaths other = Paths();
         other.exe = L"D:\\old kit\\k27sim.exe";
         WriteRegistration(pc.machine, other);
       }, true, L""},
      {"the user's simulator over a device server installed later", [&](Pc& pc) {
         WriteRegistration(pc.user, Paths());
         pc.machine = WithVendor(vendor);
       }, false,
       L"this user's registration of the bench simulator in HKCU\\Software\\Classes outranks the machine's: the device server's "
       L"class {AF3D8AC6-A1AA-48D0-BB1D-65009ECCBA99} is registered to " + vendor + L" in HKLM\\Software\\Classes" +
       refusal_end},
      {"... installed for 32-bit programs", [&](Pc& pc) {
         WriteRegistration(pc.user, Paths());
         pc.machine_32 = WithVendor(vendor, L"HKLM\\Software\\Classes (32-bit view)");
       }, false,
       L"this user's registration of the bench simulator in HKCU\\Software\\Classes outranks the machine's: the device server's "
       L"class {AF3D8AC6-A1AA-48D0-BB1D-65009ECCBA99} is registered to " + vendor +
       L" in HKLM\\Software\\Classes (32-bit view)" + refusal_end},
      {"... whose registration names k27sim.exe but starts its ServerExecutable", [&](Pc& pc) {
         WriteRegistration(pc.user, Paths());
         WriteRegistration(pc.machine, Paths());
         pc.machine.Write(kServer + L"\\LocalServer32", L"ServerExecutable", StringValue(L"C:\\Vendor\\dev.exe"));
       }, false,
       L"this user's registration of the bench simulator in HKCU\\Software\\Classes outranks the machine's: the device server's "
       L"class {AF3D8AC6-A1AA-48D0-BB1D-65009ECCBA99} is registered to start (ServerExecutable) C:\\Vendor\\dev.exe in "
       L"HKLM\\Software\\Classes" + refusal_end},
      {"forced over that device server", [&](Pc& pc) {
         pc.machine = WithVendor(vendor);
         RegistrationPaths forced = Paths();
         forced.forced_over = ForeignServerPrograms({&pc.machine, &pc.machine_32});
         WriteRegistration(pc.user, forced);
       }, true,
       L"registered for this user with /force over the device server's class {AF3D8AC6-A1AA-48D0-BB1D-65009ECCBA99} "
       L"is registered to " + vendor + L" in HKLM\\Software\\Classes"},
      {"forced over it, in either case", [&](Pc& pc) {
         pc.machine = WithVendor(vendor);
         RegistrationPaths forced = Paths();
         forced.forced_over = {L"\"C:\\PROGRAM FILES\\VENDOR\\DEVSERVER.EXE\""};
         WriteRegistration(pc.user, forced);
       }, true,
       L"registered for this user with /force over the device server's class {AF3D8AC6-A1AA-48D0-BB1D-65009ECCBA99} "
       L"is registered to " + vendor + L" in HKLM\\Software\\Classes"},
      {"forced over another program than the one registered now", [&](Pc& pc) {
         RegistrationPaths forced = Paths();
         forced.forced_over = {other_vendor};
         WriteRegistration(pc.user, forced);
         pc.machine = WithVendor(vendor);
       }, false,
       L"this user's registration of the bench simulator in HKCU\\Software\\Classes outranks the machine's: the device server's "
       L"class {AF3D8AC6-A1AA-48D0-BB1D-65009ECCBA99} is registered to " + vendor + L" in HKLM\\Software\\Classes" +
       refusal_end},
      {"forced over one of the machine's two registrations only", [&](Pc& pc) {
         pc.machine = WithVendor(vendor);
         RegistrationPaths forced = Paths();
         forced.forced_over = ForeignServerPrograms({&pc.machine, &pc.machine_32});
         WriteRegistration(pc.user, forced);
         pc.machine_32 = WithVendor(other_vendor, L"HKLM\\Software\\Classes (32-bit view)");
       }, false,
       L"this user's registration of the bench simulator in HKCU\\Software\\Classes outranks the machine's: the device server's "
       L"class {AF3D8AC6-A1AA-48D0-BB1D-65009ECCBA99} is registered to " + other_vendor +
       L" in HKLM\\Software\\Classes (32-bit view)" + refusal_end},
      {"the user's own registration is another program's", [&](Pc& pc) {
         pc.user = WithVendor(other_vendor, L"HKCU\\Software\\Classes");
         pc.machine = WithVendor(vendor);
       }, true, L""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Pc pc;
    row.arrange(pc);
    const ServeDecision decision = pc.Decide();
    EXPECT_EQ(decision.serve, row.serve);
    EXPECT_EQ(decision.reason, row.reason) << std::string(decision.reason.begin(), decision.reason.end());
  }
}

}  // namespace

// A qualification run registers the simulator again and again, then puts the
// root back as it found it, whatever it held: nothing of the simulator, a
// person's own rehearsal registration, or a forced one over a vendor.
TEST(RegistrationTest, ASnapshotPutsTheRootBackAsItWas) {
  struct Row {
    const char* name;
    std::function<FakeRoot()> make;
  };
  const Row rows[] = {
      {"empty root", [] { return FakeRoot(); }},
      {"other classes only", [] { return OtherClasses(); }},
      {"a rehearsal registration",
       [] {
         FakeRoot root = OtherClasses();
         WriteRegistration(root, Paths(L"C:\\mine\\bench.json", L"C:\\mine\\journal.jsonl"));
         root.Write(kServer + L"\\LocalServer32", L"a value of the user's own", StringValue(L"kept"));
         return root;
       }},
      {"forced over a vendor",
       [] {
         FakeRoot root = VendorServer();
         WriteRegistration(root, Paths(L"C:\\forced.json"));
         return root;
       }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    FakeRoot root = row.make();
    const auto before = root.keys;
    const RegistrationSnapshot snapshot = TakeRegistrationSnapshot(root);
    for (int run = 0; run < 3; ++run) {
      ASSERT_EQ(WriteRegistration(root, Paths(L"C:\\q\\" + std::to_wstring(run) + L".json", L"C:\\q\\j.jsonl")), 0);
    }
    // What a run's registration never writes, but a server key may hold.
    root.Write(kServer + L"\\LocalServer32", L"ServerExecutable", StringValue(L"C:\\q\\k27sim.exe"));
    EXPECT_NE(root.keys, before);
    EXPECT_EQ(RestoreRegistrationSnapshot(root, snapshot), 0);
    EXPECT_EQ(root.keys, before);
    // Restoring twice changes nothing more.
    EXPECT_EQ(RestoreRegistrationSnapshot(root, snapshot), 0);
    EXPECT_EQ(root.keys, before);
  }
}

TEST(RegistrationTest, ASnapshotLeavesKeysOfOthersAndSaysSo) {
  FakeRoot root = OtherClasses();
  const RegistrationSnapshot snapshot = TakeRegistrationSnapshot(root);
  ASSERT_EQ(WriteRegistration(root, Paths(L"C:\\q.json")), 0);
  // Something else put a key under the class while the run went on.
  root.Write(kServer + L"\\TreatAs", L"", StringValue(L"{01234567-89AB-CDEF-0123-456789ABCDEF}"));
  EXPECT_NE(RestoreRegistrationSnapshot(root, snapshot), 0);
  EXPECT_EQ(root.Text(kServer + L"\\TreatAs"), L"{01234567-89AB-CDEF-0123-456789ABCDEF}");
  EXPECT_FALSE(root.KeyExists(kServer + L"\\LocalServer32"));
  EXPECT_FALSE(root.KeyExists(kDeviceServerKey));
  EXPECT_FALSE(root.KeyExists(kProxy));
}

TEST(RegistrationTest, TheProgramARegistrationStarts) {
  struct Row {
    std::wstring line, file;
  } rows[] = {
      {L"\"C:\\Program Files\\K27\\k27sim.exe\" /bench \"C:\\b.json\" -Embedding", L"k27sim.exe"},
      {L"C:\\kit\\K27SIM.EXE -Embedding", L"k27sim.exe"},
      {L"C:\\Program Files\\Vendor\\devserver.exe /automation", L"devserver.exe"},
      {L"C:\\Tools\\k27sim.exe.bak\\server.exe", L"server.exe"},
      {L"C:\\x\\not-k27sim.exe", L"not-k27sim.exe"},
      {L"  \"C:\\x\\k27sim.exe\"", L"k27sim.exe"},
      {L"", L""},
      {L"server", L"server"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(ProgramFileName(row.line), row.file) << std::string(row.line.begin(), row.line.end());
  }
}
