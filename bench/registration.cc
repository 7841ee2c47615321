// The interfaces' C form, whose vtable structures give their method counts.
#define CINTERFACE
#include "bench/registration.h"

#include <algorithm>
#include <cwctype>

#include "k27server.h"
#include "lib/arguments.h"
#include "lib/com_text.h"

namespace {

constexpr long kNotFound = 2;  // ERROR_FILE_NOT_FOUND

struct Entry {
  std::wstring key;
  std::wstring name;  // empty: the key's default value
  std::wstring data;
  bool optional = false;  // with no data, the value is removed rather than written
};

enum class GroupKind { kServerClass, kInterface, kProxyClass };

// A value another program may have set that COM follows in place of the
// simulator's entries: the simulator never writes one, and a forced
// registration puts it aside (DisplacedName) while it stands.
struct Override {
  std::wstring key;
  std::wstring name;
};

// Keys that belong together: a simulator either holds all of them or none.
struct Group {
  GroupKind kind;
  std::wstring top;
  std::wstring label;  // for messages
  std::vector<Entry> entries;
  std::vector<std::wstring> keys;  // every key written, deepest first
  std::vector<Override> overrides = {};
};

struct InterfaceInfo {
  const wchar_t* name;
  const IID& iid;
  size_t methods;  // IUnknown's three included
};

const InterfaceInfo kInterfaces[] = {
    {L"IDeviceServer", IID_IDeviceServer, sizeof(IDeviceServerVtbl) / sizeof(void*)},
    {L"IDeviceInterface", IID_IDeviceInterface, sizeof(IDeviceInterfaceVtbl) / sizeof(void*)},
    {L"ICodeProgramming", IID_ICodeProgramming, sizeof(ICodeProgrammingVtbl) / sizeof(void*)},
};

std::wstring ServerKey() { return L"CLSID\\" + RegistryGuid(CLSID_DeviceServerClass); }

std::wstring Upper(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towupper(c));
  return text;
}

std::vector<Group> Groups(const RegistrationPaths& paths) {
  std::vector<Group> groups;
  const std::wstring server = ServerKey();
  groups.push_back({GroupKind::kServerClass, server,
                    L"the device server's class " + RegistryGuid(CLSID_DeviceServerClass),
                    {{server, L"", kClassDescription},
                     {server, kBenchValueName, paths.bench, true},
                     {server, kJournalValueName, paths.journal, true},
                     {server, kStateValueName, paths.state, true},
                     {server + L"\\LocalServer32", L"", ServerCommandLine(paths.exe)}},
                    {server + L"\\LocalServer32", server, L"CLSID"},
                    // ServerExecutable is the program COM starts, the default
                    // value only its command line; an AppID may have COM start
                    // a service, a surrogate or another machine's server.
                    {{server + L"\\LocalServer32", L"ServerExecutable"}, {server, L"AppID"}}});
  for (const InterfaceInfo& i : kInterfaces) {
    const std::wstring iid = RegistryGuid(i.iid);
    const std::wstring key = L"Interface\\" + iid;
    groups.push_back({GroupKind::kInterface, key, std::wstring(L"the ") + i.name + L" interface " + iid,
                      {{key, L"", i.name},
                       {key + L"\\NumMethods", L"", std::to_wstring(i.methods)},
                       {key + L"\\ProxyStubClsid32", L"", kProxyClassText}},
                      {key + L"\\NumMethods", key + L"\\ProxyStubClsid32", key, L"Interface"}});
  }
  const std::wstring proxy = std::wstring(L"CLSID\\") + kProxyClassText;
  groups.push_back({GroupKind::kProxyClass, proxy, std::wstring(L"the proxy/stub class ") + kProxyClassText,
                    {{proxy, L"", L"PSFactoryBuffer"},
                     {proxy + L"\\InProcServer32", L"", paths.proxy},
                     {proxy + L"\\InProcServer32", L"ThreadingModel", L"Both"}},
                    {proxy + L"\\InProcServer32", proxy, L"CLSID"}});
  return groups;
}

enum class Holder { kNone, kSimulator, kForeign };

struct Holding {
  Holder holder = Holder::kNone;
  std::wstring described;  // a foreign holder, for the operator
  std::wstring program;    // what a foreign holder has COM start or marshal with
};

std::wstring Text(ClassesRoot& root, const std::wstring& key, const std::wstring& name = L"") {
  const std::optional<RegValue> value = root.Read(key, name);
  if (!value) return {};
  return ValueText(*value).value_or(L"(not text)");
}

std::wstring FileName(const std::wstring& path) {
  const size_t slash = path.find_last_of(L"\\/");
  return Lower(slash == std::wstring::npos ? path : path.substr(slash + 1));
}

Holding Foreign(const Group& group, const std::wstring& program, const std::wstring& how, ClassesRoot& root) {
  const std::wstring named = program.empty() ? L"(nothing named)" : program;
  return {Holder::kForeign, group.label + how + named + L" in " + root.Name(), named};
}

// Who holds the group's keys in this root, and for a foreign holder what.
Holding GroupHolding(ClassesRoot& root, const Group& group) {
  switch (group.kind) {
    case GroupKind::kServerClass: {
      // Any server key makes the class registered; only k27sim.exe, with
      // nothing that has COM start another program instead, makes it a
      // simulator's.
      for (const wchar_t* server : {L"LocalServer32", L"InprocServer32", L"LocalServer", L"InprocServer"}) {
        const std::wstring key = group.top + L"\\" + server;
        if (!root.KeyExists(key)) continue;
        const std::wstring command = Text(root, key);
        if (std::wstring(server) != L"LocalServer32" || ProgramFileName(command) != kServerFileName) {
          return Foreign(group, command, L" is registered to ", root);
        }
        if (root.Read(key, L"ServerExecutable")) {
          const std::wstring executable = Text(root, key, L"ServerExecutable");
          if (FileName(executable) != kServerFileName) {
            return Foreign(group, executable, L" is registered to start (ServerExecutable) ", root);
          }
        }
        if (root.Read(group.top, L"AppID")) {
          return Foreign(group, L"AppID " + Text(root, group.top, L"AppID"),
                         L" is registered to the application (which may name a service COM starts instead) ",
                         root);
        }
        return {Holder::kSimulator, {}, {}};
      }
      return {};
    }
    case GroupKind::kInterface: {
      const std::wstring key = group.top + L"\\ProxyStubClsid32";
      if (!root.KeyExists(key)) return {};
      const std::wstring proxy = Text(root, key);
      if (Upper(proxy) == kProxyClassText) return {Holder::kSimulator, {}, {}};
      return Foreign(group, proxy, L" is marshalled by ", root);
    }
    case GroupKind::kProxyClass:
      // The proxy class is the simulator's own: no other program uses it.
      if (root.KeyExists(group.top)) return {Holder::kSimulator, {}, {}};
      return {};
  }
  return {};
}

const Group& ServerClassGroup(const std::vector<Group>& groups) { return groups.front(); }

void DeleteEmptyKeys(ClassesRoot& root, const std::vector<std::wstring>& keys) {
  for (const std::wstring& key : keys) {
    if (root.KeyExists(key) && root.KeyIsEmpty(key)) root.DeleteEmptyKey(key);
  }
}

}  // namespace

std::wstring RegistryGuid(const GUID& guid) {
  const std::string text = GuidText(guid);
  return {text.begin(), text.end()};
}

RegValue StringValue(const std::wstring& text) {
  RegValue value;
  value.type = 1;
  const size_t bytes = (text.size() + 1) * 2;
  value.data.resize(bytes);
  for (size_t i = 0; i <= text.size(); ++i) {
    const uint16_t unit = i < text.size() ? static_cast<uint16_t>(text[i]) : 0;
    value.data[2 * i] = static_cast<uint8_t>(unit);
    value.data[2 * i + 1] = static_cast<uint8_t>(unit >> 8);
  }
  return value;
}

std::optional<std::wstring> ValueText(const RegValue& value) {
  if (value.type != 1 && value.type != 2) return std::nullopt;  // REG_SZ, REG_EXPAND_SZ
  std::wstring text;
  for (size_t i = 0; i + 1 < value.data.size(); i += 2) {
    const wchar_t unit = static_cast<wchar_t>(value.data[i] | (value.data[i + 1] << 8));
    if (unit == 0) break;
    text += unit;
  }
  return text;
}

std::wstring DisplacedName(const std::wstring& name) {
  return L"k27sim displaced " + (name.empty() ? std::wstring(L"(default)") : name);
}

std::optional<std::wstring> ForeignRegistration(ClassesRoot& root) {
  for (const Group& group : Groups({})) {
    const Holding holding = GroupHolding(root, group);
    if (holding.holder == Holder::kForeign) return holding.described;
  }
  return std::nullopt;
}

RegisteredFiles RegisteredBenchAndJournal(ClassesRoot& root) {
  const std::vector<Group> groups = Groups({});
  if (GroupHolding(root, ServerClassGroup(groups)).holder != Holder::kSimulator) return {};
  return {Text(root, ServerKey(), kBenchValueName), Text(root, ServerKey(), kJournalValueName),
          Text(root, ServerKey(), kStateValueName)};
}

RegisteredFiles ServedFiles(bool above_medium_integrity, ClassesRoot& user, ClassesRoot& machine,
                            const std::function<bool(const std::wstring&)>& is_this_program) {
  const std::vector<Group> groups = Groups({});
  std::vector<ClassesRoot*> roots = {&machine};
  if (!above_medium_integrity) roots.insert(roots.begin(), &user);
  for (ClassesRoot* root : roots) {
    if (GroupHolding(*root, ServerClassGroup(groups)).holder != Holder::kSimulator) continue;
    if (is_this_program(CommandLineProgram(Text(*root, ServerKey() + L"\\LocalServer32"))))
      return RegisteredBenchAndJournal(*root);
  }
  return {};
}

std::vector<std::wstring> ForeignServerPrograms(const std::vector<ClassesRoot*>& roots) {
  const std::vector<Group> groups = Groups({});
  std::vector<std::wstring> programs;
  for (ClassesRoot* root : roots) {
    const Holding holding = GroupHolding(*root, ServerClassGroup(groups));
    if (holding.holder == Holder::kForeign) programs.push_back(holding.program);
  }
  return programs;
}

long WriteRegistration(ClassesRoot& root, const RegistrationPaths& paths) {
  struct Undo {
    std::wstring key, name;
    std::optional<RegValue> before;
  };
  std::vector<Undo> undo;
  std::vector<std::wstring> keys;
  long error = 0;
  // Keeps a value another program set, so that unregistering gives it back
  // (even one equal to the simulator's: unregistering removes those).
  auto displace = [&](const std::wstring& key, const std::wstring& name, const RegValue& before) {
    if (root.Read(key, DisplacedName(name))) return 0L;  // kept by an earlier forced registration
    undo.push_back({key, DisplacedName(name), std::nullopt});
    return root.Write(key, DisplacedName(name), before);
  };
  for (const Group& group : Groups(paths)) {
    const bool foreign = GroupHolding(root, group).holder == Holder::kForeign;
    keys.insert(keys.end(), group.keys.begin(), group.keys.end());
    for (const Entry& entry : group.entries) {
      const std::optional<RegValue> before = root.Read(entry.key, entry.name);
      if (foreign && before && (error = displace(entry.key, entry.name, *before)) != 0) break;
      undo.push_back({entry.key, entry.name, before});
      if (entry.optional && entry.data.empty()) {
        if (before && (error = root.DeleteValue(entry.key, entry.name)) != 0) break;
        continue;
      }
      if ((error = root.Write(entry.key, entry.name, StringValue(entry.data))) != 0) break;
    }
    for (const Override& o : group.overrides) {
      if (error || !foreign) break;
      const std::optional<RegValue> before = root.Read(o.key, o.name);
      if (!before) continue;
      if ((error = displace(o.key, o.name, *before)) != 0) break;
      undo.push_back({o.key, o.name, before});
      if ((error = root.DeleteValue(o.key, o.name)) != 0) break;
    }
    if (error) break;
  }
  if (!error) {
    // What a forced registration went over, or no record of an earlier one.
    std::wstring forced;
    for (const std::wstring& program : paths.forced_over) forced += (forced.empty() ? L"" : L"\n") + program;
    const std::optional<RegValue> before = root.Read(ServerKey(), kForcedOverName);
    undo.push_back({ServerKey(), kForcedOverName, before});
    if (!forced.empty()) {
      error = root.Write(ServerKey(), kForcedOverName, StringValue(forced));
    } else if (before) {
      error = root.DeleteValue(ServerKey(), kForcedOverName);
    }
  }
  if (error) {
    for (auto it = undo.rbegin(); it != undo.rend(); ++it) {
      if (it->before) root.Write(it->key, it->name, *it->before);
      else root.DeleteValue(it->key, it->name);
    }
    DeleteEmptyKeys(root, keys);
  }
  return error;
}

Removal RemoveRegistration(ClassesRoot& root) {
  Removal removal;
  auto note = [&](long error) {
    if (error && error != kNotFound && !removal.error) removal.error = error;
  };
  // Puts back a value a forced registration kept aside; false when none was.
  auto restore = [&](const std::wstring& key, const std::wstring& name) {
    const std::optional<RegValue> displaced = root.Read(key, DisplacedName(name));
    if (!displaced) return false;
    const long error = root.Write(key, name, *displaced);
    note(error);
    if (!error) note(root.DeleteValue(key, DisplacedName(name)));
    return true;
  };
  for (const Group& group : Groups({})) {
    const Holding holding = GroupHolding(root, group);
    if (holding.holder == Holder::kForeign) removal.left_alone.push_back(holding.described);
    if (holding.holder != Holder::kSimulator) continue;
    removal.removed = true;
    for (const Entry& entry : group.entries) {
      if (!restore(entry.key, entry.name)) note(root.DeleteValue(entry.key, entry.name));
    }
    for (const Override& o : group.overrides) restore(o.key, o.name);
    if (group.kind == GroupKind::kServerClass) note(root.DeleteValue(ServerKey(), kForcedOverName));
    DeleteEmptyKeys(root, group.keys);
  }
  return removal;
}

RegistrationSnapshot TakeRegistrationSnapshot(ClassesRoot& root) {
  RegistrationSnapshot snapshot;
  for (const Group& group : Groups({})) {
    for (const std::wstring& key : group.keys) {
      const bool seen = std::any_of(snapshot.keys.begin(), snapshot.keys.end(),
                                    [&](const RegistrationSnapshot::Key& k) { return Upper(k.path) == Upper(key); });
      if (seen) continue;
      RegistrationSnapshot::Key taken{key, root.KeyExists(key), {}};
      if (taken.existed) {
        for (const std::wstring& name : root.ValueNames(key)) {
          if (std::optional<RegValue> value = root.Read(key, name)) taken.values.emplace_back(name, *value);
        }
      }
      snapshot.keys.push_back(std::move(taken));
    }
  }
  return snapshot;
}

long RestoreRegistrationSnapshot(ClassesRoot& root, const RegistrationSnapshot& snapshot) {
  long first_error = 0;
  auto note = [&](long error) {
    if (error && !first_error) first_error = error;
  };
  for (const RegistrationSnapshot::Key& key : snapshot.keys) {
    if (!root.KeyExists(key.path)) {
      for (const auto& [name, value] : key.values) note(root.Write(key.path, name, value));
      continue;
    }
    for (const std::wstring& name : root.ValueNames(key.path)) {
      const bool kept = std::any_of(key.values.begin(), key.values.end(),
                                    [&](const auto& v) { return Upper(v.first) == Upper(name); });
      if (!kept) note(root.DeleteValue(key.path, name));
    }
    for (const auto& [name, value] : key.values) {
      if (root.Read(key.path, name) != value) note(root.Write(key.path, name, value));
    }
  }
  // Keys that were not there go, deepest first, once nothing is left in them.
  std::vector<std::wstring> added;
  for (const RegistrationSnapshot::Key& key : snapshot.keys) {
    if (!key.existed) added.push_back(key.path);
  }
  std::stable_sort(added.begin(), added.end(), [](const std::wstring& a, const std::wstring& b) {
    return std::count(a.begin(), a.end(), L'\\') > std::count(b.begin(), b.end(), L'\\');
  });
  for (const std::wstring& key : added) {
    if (!root.KeyExists(key)) continue;
    if (root.KeyIsEmpty(key)) note(root.DeleteEmptyKey(key));
    else note(5);  // ERROR_ACCESS_DENIED: something else put a key there
  }
  return first_error;
}

ServeDecision DecideServing(ClassesRoot& user, const std::vector<ClassesRoot*>& machine) {
  const std::vector<Group> groups = Groups({});
  ServeDecision decision;
  if (GroupHolding(user, ServerClassGroup(groups)).holder != Holder::kSimulator) return decision;
  std::vector<std::wstring> forced;
  const std::wstring record = Text(user, ServerKey(), kForcedOverName);
  for (size_t at = 0; at <= record.size() && !record.empty();) {
    const size_t end = std::min(record.find(L'\n', at), record.size());
    forced.push_back(Upper(record.substr(at, end - at)));
    at = end + 1;
  }
  std::wstring over;
  for (ClassesRoot* root : machine) {
    const Holding holding = GroupHolding(*root, ServerClassGroup(groups));
    if (holding.holder != Holder::kForeign) continue;
    if (std::find(forced.begin(), forced.end(), Upper(holding.program)) == forced.end()) {
      decision.serve = false;
      decision.reason = L"this user's registration of the bench simulator in " + user.Name() + L" outranks the machine's: " +
                        holding.described +
                        L"; so it refuses every creation, since a run against it would pass for one against the "
                        L"device server. Remove it (k27sim /UnregServerPerUser), or register it with "
                        L"/RegServerPerUser /force on a PC that never programs devices";
      return decision;
    }
    over += (over.empty() ? L"" : L"; ") + holding.described;
  }
  if (!over.empty()) decision.reason = L"registered for this user with /force over " + over;
  return decision;
}

PathForm RegisteredPathForm(size_t length, bool under_wine) {
  if (length > kLongestStartablePath) return PathForm::kTooLong;
  return under_wine && length > kLongestWineServerPath ? PathForm::kShortForm : PathForm::kAsItIs;
}

std::wstring ServerCommandLine(const std::wstring& exe) {
  // Always quoted: unquoted, a path with a blank in it would be read by COM
  // as a shorter program name.
  return L"\"" + exe + L"\"";
}

std::wstring CommandLineProgram(const std::wstring& command_line) {
  size_t start = command_line.find_first_not_of(L" \t");
  if (start == std::wstring::npos) return {};
  if (command_line[start] == L'"') {
    const size_t end = command_line.find(L'"', start + 1);
    return command_line.substr(start + 1, end == std::wstring::npos ? std::wstring::npos : end - start - 1);
  }
  const std::wstring lower = Lower(command_line);
  for (size_t at = lower.find(L".exe", start); at != std::wstring::npos; at = lower.find(L".exe", at + 1)) {
    const size_t after = at + 4;
    if (after == lower.size() || lower[after] == L' ' || lower[after] == L'\t') {
      return command_line.substr(start, after - start);
    }
  }
  const size_t end = command_line.find_first_of(L" \t", start);
  return command_line.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
}

std::wstring ProgramFileName(const std::wstring& command_line) {
  return FileName(CommandLineProgram(command_line));
}
