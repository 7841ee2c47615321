#include "k27image/resource_update.h"

#include <windows.h>

#include <cstring>

#include "image/embedded_image.h"
#include "k27image/pe_file.h"
#include "lib/file_bytes.h"
#include "lib/reject.h"

namespace {

std::string LastError(const std::string& what) {
  return what + " failed (error " + std::to_string(GetLastError()) + ")";
}

// A resource type or name: an integer id or a string.
struct ResourceKey {
  bool is_id = false;
  WORD id = 0;
  std::string name;

  explicit ResourceKey(LPCSTR key) {
    if (IS_INTRESOURCE(key)) {
      is_id = true;
      id = static_cast<WORD>(reinterpret_cast<ULONG_PTR>(key));
    } else {
      name = key;
    }
  }
  LPCSTR Get() const { return is_id ? MAKEINTRESOURCEA(id) : name.c_str(); }
};

struct ResourceEntry {
  ResourceKey type, name;
  WORD language;
  std::vector<uint8_t> data;
};

bool IsImageEntry(const ResourceKey& type, const ResourceKey& name) {
  return !type.is_id && _stricmp(type.name.c_str(), kImageResourceType) == 0 && name.is_id &&
         name.id == kImageResourceId;
}

struct Collection {
  HMODULE module;
  std::vector<ResourceEntry> entries;
  bool failed = false;
};

BOOL CALLBACK CollectLanguage(HMODULE module, LPCSTR type, LPCSTR name, WORD language, LONG_PTR param) {
  Collection& c = *reinterpret_cast<Collection*>(param);
  ResourceEntry entry{ResourceKey(type), ResourceKey(name), language, {}};
  if (IsImageEntry(entry.type, entry.name)) return TRUE;
  HRSRC found = FindResourceExA(module, type, name, language);
  HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
  const void* data = loaded ? LockResource(loaded) : nullptr;
  if (!data) {
    c.failed = true;
    return FALSE;
  }
  const auto* bytes = static_cast<const uint8_t*>(data);
  entry.data.assign(bytes, bytes + SizeofResource(module, found));
  c.entries.push_back(std::move(entry));
  return TRUE;
}

BOOL CALLBACK CollectName(HMODULE module, LPCSTR type, LPSTR name, LONG_PTR param) {
  EnumResourceLanguagesA(module, type, name, CollectLanguage, param);
  return !reinterpret_cast<Collection*>(param)->failed;
}

BOOL CALLBACK CollectType(HMODULE module, LPSTR type, LONG_PTR param) {
  EnumResourceNamesA(module, type, CollectName, param);
  return !reinterpret_cast<Collection*>(param)->failed;
}

// Every resource of the program but its image.
bool OtherResources(const std::filesystem::path& path, std::vector<ResourceEntry>& entries, std::string& error) {
  HMODULE module = LoadLibraryExW(PathForOpening(path).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!module) return Reject(error, LastError("reading the resources of " + PathText(path)));
  Collection c{module, {}};
  EnumResourceTypesA(module, CollectType, reinterpret_cast<LONG_PTR>(&c));
  FreeLibrary(module);
  if (c.failed) return Reject(error, "a resource of " + PathText(path) + " cannot be read");
  entries = std::move(c.entries);
  return true;
}

// Rewrites the whole resource table rather than deleting one entry: that
// works the same on every platform's resource updater.
bool Rewrite(const std::filesystem::path& out, const std::vector<ResourceEntry>& entries,
             const std::vector<uint8_t>* resource, std::string& error) {
  HANDLE update = BeginUpdateResourceW(PathForOpening(out).c_str(), TRUE);
  if (!update) return Reject(error, LastError("BeginUpdateResource"));
  bool ok = true;
  for (const ResourceEntry& e : entries) {
    if (!UpdateResourceA(update, e.type.Get(), e.name.Get(), e.language, const_cast<uint8_t*>(e.data.data()),
                         static_cast<DWORD>(e.data.size()))) {
      error = LastError("copying a resource");
      ok = false;
      break;
    }
  }
  if (ok && resource &&
      !UpdateResourceA(update, kImageResourceType, MAKEINTRESOURCEA(kImageResourceId),
                       MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL), const_cast<uint8_t*>(resource->data()),
                       static_cast<DWORD>(resource->size()))) {
    error = LastError("adding the image resource");
    ok = false;
  }
  if (!EndUpdateResourceA(update, ok ? FALSE : TRUE) && ok) {
    error = LastError("EndUpdateResource");
    ok = false;
  }
  return ok;
}

// The resource updater moves the sections after the resources, and with
// them the symbol table of a program that was not stripped, but leaves the
// file header's pointer to it: put that right, so that the copy's headers
// agree with its contents.
bool KeepSymbolTable(const std::filesystem::path& exe, const std::filesystem::path& out, std::string& error) {
  std::vector<uint8_t> before, after;
  if (!ReadFileBytes(exe, before, error) || !ReadFileBytes(out, after, error)) return false;
  const std::vector<uint8_t> written = after;
  if (!CarrySymbolTable(before, after, error)) return false;
  return after == written || WriteFileBytes(out, after, error);
}

}  // namespace

bool WriteWithImageResource(const std::filesystem::path& exe, const std::vector<uint8_t>* resource,
                            const std::filesystem::path& out, std::string& error) {
  if (resource && resource->size() > MAXDWORD) return Reject(error, "the resource is too large");
  std::vector<ResourceEntry> entries;
  if (!OtherResources(exe, entries, error)) return false;
  if (!CopyFileW(PathForOpening(exe).c_str(), PathForOpening(out).c_str(), FALSE))
    return Reject(error, LastError("copying " + PathText(exe)));
  if (Rewrite(out, entries, resource, error) && KeepSymbolTable(exe, out, error)) return true;
  DeleteFileW(PathForOpening(out).c_str());
  return false;
}
