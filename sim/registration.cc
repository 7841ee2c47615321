#include "registration.h"

#include <algorithm>
#include <cwctype>

#include "command_line.h"

namespace {

constexpr long kNotFound = 2;  // ERROR_FILE_NOT_FOUND

struct Entry {
  std::wstring key;
  std::wstring name;  // empty: the key's default value
  std::wstring data;
};

enum class GroupKind { kServerClass, kInterface, kProxyClass };

// Keys that belong together: a simulator either holds all of them or none.
struct Group {
  GroupKind kind;
  std::wstring top;
  std::wstring label;  // for messages
  std::vector<Entry> entries;
  std::vector<std::wstring> keys;  // every key written, deepest first
};

struct InterfaceInfo {
  const wchar_t* name;
  const wchar_t* iid;
  int methods;  // IUnknown's three included
};

// The method counts follow the interfaces' vtables (a test checks them
// against the generated header).
constexpr InterfaceInfo kInterfaces[] = {
    {L"IDeviceServer", L"{7ADC3EE4-226F-4F84-82F7-20444C1F8C16}", 16},
    {L"IDeviceInterface", L"{5B1F0C2A-8E47-4C39-9D61-2A7E4F3B8C05}", 30},
    {L"ICodeProgramming", L"{C4E9A7D3-1B62-4F08-A5C7-93D2E6F10B4A}", 9},
};

std::wstring Upper(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towupper(c));
  return text;
}

std::vector<Group> Groups(const RegistrationPaths& paths) {
  std::vector<Group> groups;
  const std::wstring server = std::wstring(L"CLSID\\") + kServerClassText;
  groups.push_back({GroupKind::kServerClass, server,
                    std::wstring(L"the device server's class ") + kServerClassText,
                    {{server, L"", kClassDescription},
                     {server + L"\\LocalServer32", L"", ServerCommandLine(paths.exe, paths.bench, paths.journal)}},
                    {server + L"\\LocalServer32", server, L"CLSID"}});
  for (const InterfaceInfo& i : kInterfaces) {
    const std::wstring key = std::wstring(L"Interface\\") + i.iid;
    groups.push_back({GroupKind::kInterface, key, std::wstring(L"the ") + i.name + L" interface " + i.iid,
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

std::wstring DefaultText(ClassesRoot& root, const std::wstring& key) {
  const std::optional<RegValue> value = root.Read(key, L"");
  if (!value) return {};
  return ValueText(*value).value_or(L"(not text)");
}

// Who holds the group's keys in this root; a foreign holder is described.
Holder GroupHolder(ClassesRoot& root, const Group& group, std::wstring* described) {
  switch (group.kind) {
    case GroupKind::kServerClass: {
      // Any server key makes the class registered; only k27sim.exe makes it
      // a simulator's.
      for (const wchar_t* server : {L"LocalServer32", L"InprocServer32", L"LocalServer", L"InprocServer"}) {
        const std::wstring key = group.top + L"\\" + server;
        if (!root.KeyExists(key)) continue;
        const std::wstring command = DefaultText(root, key);
        if (std::wstring(server) == L"LocalServer32" && ProgramFileName(command) == kServerFileName) {
          return Holder::kSimulator;
        }
        *described = group.label + L" is registered to " + (command.empty() ? L"(nothing named)" : command) +
                     L" in " + root.Name();
        return Holder::kForeign;
      }
      return Holder::kNone;
    }
    case GroupKind::kInterface: {
      const std::wstring key = group.top + L"\\ProxyStubClsid32";
      if (!root.KeyExists(key)) return Holder::kNone;
      const std::wstring proxy = DefaultText(root, key);
      if (Upper(proxy) == kProxyClassText) return Holder::kSimulator;
      *described = group.label + L" is marshalled by " + (proxy.empty() ? L"(nothing named)" : proxy) + L" in " +
                   root.Name();
      return Holder::kForeign;
    }
    case GroupKind::kProxyClass:
      // The proxy class is the simulator's own: no other program uses it.
      return root.KeyExists(group.top) ? Holder::kSimulator : Holder::kNone;
  }
  return Holder::kNone;
}

void DeleteEmptyKeys(ClassesRoot& root, const std::vector<std::wstring>& keys) {
  for (const std::wstring& key : keys) {
    if (root.KeyExists(key) && root.KeyIsEmpty(key)) root.DeleteEmptyKey(key);
  }
}

}  // namespace

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
    std::wstring described;
    if (GroupHolder(root, group, &described) == Holder::kForeign) return described;
  }
  return std::nullopt;
}

long WriteRegistration(ClassesRoot& root, const RegistrationPaths& paths) {
  struct Undo {
    std::wstring key, name;
    std::optional<RegValue> before;
  };
  std::vector<Undo> undo;
  std::vector<std::wstring> keys;
  long error = 0;
  for (const Group& group : Groups(paths)) {
    std::wstring ignored;
    const bool foreign = GroupHolder(root, group, &ignored) == Holder::kForeign;
    keys.insert(keys.end(), group.keys.begin(), group.keys.end());
    for (const Entry& entry : group.entries) {
      const RegValue value = StringValue(entry.data);
      const std::optional<RegValue> before = root.Read(entry.key, entry.name);
      const std::wstring displaced = DisplacedName(entry.name);
      if (foreign && before && !root.Read(entry.key, displaced)) {
        // Kept so that unregistering gives the other program its value back
        // (even one equal to the simulator's: unregistering removes those).
        undo.push_back({entry.key, displaced, std::nullopt});
        if ((error = root.Write(entry.key, displaced, *before)) != 0) break;
      }
      undo.push_back({entry.key, entry.name, before});
      if ((error = root.Write(entry.key, entry.name, value)) != 0) break;
    }
    if (error) break;
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
  for (const Group& group : Groups({})) {
    std::wstring described;
    const Holder holder = GroupHolder(root, group, &described);
    if (holder == Holder::kForeign) removal.left_alone.push_back(described);
    if (holder != Holder::kSimulator) continue;
    removal.removed = true;
    for (const Entry& entry : group.entries) {
      const std::wstring displaced_name = DisplacedName(entry.name);
      const std::optional<RegValue> displaced = root.Read(entry.key, displaced_name);
      long error = 0;
      if (displaced) {
        error = root.Write(entry.key, entry.name, *displaced);
        if (!error) error = root.DeleteValue(entry.key, displaced_name);
      } else {
        error = root.DeleteValue(entry.key, entry.name);
        if (error == kNotFound) error = 0;
      }
      if (error && !removal.error) removal.error = error;
    }
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
