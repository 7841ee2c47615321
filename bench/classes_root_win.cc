#include "bench/classes_root_win.h"

namespace {

class RegistryClassesRoot : public ClassesRoot {
 public:
  RegistryClassesRoot(HKEY hive, std::wstring name, REGSAM view) : hive_(hive), name_(std::move(name)), view_(view) {}

  std::wstring Name() const override { return name_; }

  bool KeyExists(const std::wstring& key) override {
    HKEY opened = Open(key, KEY_READ);
    if (!opened) return false;
    RegCloseKey(opened);
    return true;
  }

  std::optional<RegValue> Read(const std::wstring& key, const std::wstring& name) override {
    HKEY opened = Open(key, KEY_QUERY_VALUE);
    if (!opened) return std::nullopt;
    DWORD type = 0;
    DWORD size = 0;
    std::optional<RegValue> result;
    if (RegQueryValueExW(opened, name.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
      RegValue value;
      value.type = type;
      value.data.resize(size);
      if (RegQueryValueExW(opened, name.c_str(), nullptr, &type, value.data.data(), &size) == ERROR_SUCCESS) {
        value.data.resize(size);
        result = std::move(value);
      }
    }
    RegCloseKey(opened);
    return result;
  }

  long Write(const std::wstring& key, const std::wstring& name, const RegValue& value) override {
    HKEY created = nullptr;
    LONG error = RegCreateKeyExW(hive_, Full(key).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                 KEY_SET_VALUE | view_, nullptr, &created, nullptr);
    if (error != ERROR_SUCCESS) return error;
    error = RegSetValueExW(created, name.c_str(), 0, value.type, value.data.data(),
                           static_cast<DWORD>(value.data.size()));
    RegCloseKey(created);
    return error;
  }

  long DeleteValue(const std::wstring& key, const std::wstring& name) override {
    HKEY opened = nullptr;
    LONG error = RegOpenKeyExW(hive_, Full(key).c_str(), 0, KEY_SET_VALUE | view_, &opened);
    if (error != ERROR_SUCCESS) return error;
    error = RegDeleteValueW(opened, name.c_str());
    RegCloseKey(opened);
    return error;
  }

  std::vector<std::wstring> ValueNames(const std::wstring& key) override {
    std::vector<std::wstring> names;
    HKEY opened = Open(key, KEY_QUERY_VALUE);
    if (!opened) return names;
    std::wstring name(16384, L'\0');  // the registry's longest value name, and its terminator
    for (DWORD i = 0;; ++i) {
      DWORD length = static_cast<DWORD>(name.size());
      if (RegEnumValueW(opened, i, name.data(), &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
      names.emplace_back(name.data(), length);
    }
    RegCloseKey(opened);
    return names;
  }

  bool KeyIsEmpty(const std::wstring& key) override {
    HKEY opened = Open(key, KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS);
    if (!opened) return false;
    DWORD subkeys = 0;
    DWORD values = 0;
    const LONG error = RegQueryInfoKeyW(opened, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                                        nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(opened);
    return error == ERROR_SUCCESS && subkeys == 0 && values == 0;
  }

  long DeleteEmptyKey(const std::wstring& key) override {
    return RegDeleteKeyExW(hive_, Full(key).c_str(), view_, 0);
  }

 private:
  std::wstring Full(const std::wstring& key) const { return L"Software\\Classes\\" + key; }

  HKEY Open(const std::wstring& key, REGSAM access) {
    HKEY opened = nullptr;
    if (RegOpenKeyExW(hive_, Full(key).c_str(), 0, access | view_, &opened) != ERROR_SUCCESS) return nullptr;
    return opened;
  }

  HKEY hive_;
  std::wstring name_;
  REGSAM view_;
};

}  // namespace

std::vector<std::unique_ptr<ClassesRoot>> OpenMachineClassesRoots() {
  std::vector<std::unique_ptr<ClassesRoot>> roots;
  roots.push_back(OpenClassesRoot(RegistrationScope::kMachine, false));
  roots.push_back(OpenClassesRoot(RegistrationScope::kMachine, true));
  return roots;
}

std::vector<ClassesRoot*> Pointers(const std::vector<std::unique_ptr<ClassesRoot>>& roots) {
  std::vector<ClassesRoot*> pointers;
  for (const auto& root : roots) pointers.push_back(root.get());
  return pointers;
}

std::unique_ptr<ClassesRoot> OpenClassesRoot(RegistrationScope scope, bool view_32bit) {
  const bool machine = scope == RegistrationScope::kMachine;
  std::wstring name = machine ? L"HKLM\\Software\\Classes" : L"HKCU\\Software\\Classes";
  if (view_32bit) name += L" (32-bit view)";
  return std::make_unique<RegistryClassesRoot>(machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER, name,
                                               view_32bit ? KEY_WOW64_32KEY : KEY_WOW64_64KEY);
}
