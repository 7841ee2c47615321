#include "image/resource_update.h"

#include <windows.h>

#include "image/embedded_image.h"

namespace {

std::string LastError(const char* what) {
  return std::string(what) + " failed (error " + std::to_string(GetLastError()) + ")";
}

BOOL CALLBACK CollectLanguage(HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR found) {
  reinterpret_cast<std::vector<WORD>*>(found)->push_back(language);
  return TRUE;
}

// The languages in which `path` carries the image resource.
std::vector<WORD> ImageLanguages(const std::string& path) {
  std::vector<WORD> languages;
  HMODULE module = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!module) return languages;
  EnumResourceLanguagesA(module, kImageResourceType, MAKEINTRESOURCEA(kImageResourceId), CollectLanguage,
                         reinterpret_cast<LONG_PTR>(&languages));
  FreeLibrary(module);
  return languages;
}

bool Update(const std::string& out, const std::vector<uint8_t>* resource, std::string& error) {
  const std::vector<WORD> languages = ImageLanguages(out);
  HANDLE update = BeginUpdateResourceA(out.c_str(), FALSE);
  if (!update) {
    error = LastError("BeginUpdateResource");
    return false;
  }
  bool ok = true;
  // Null data of no size deletes the entry of that language.
  for (WORD language : languages) {
    if (ok && !UpdateResourceA(update, kImageResourceType, MAKEINTRESOURCEA(kImageResourceId), language, nullptr, 0)) {
      error = LastError("removing the image resource");
      ok = false;
    }
  }
  if (ok && resource) {
    void* data = const_cast<uint8_t*>(resource->data());
    if (!UpdateResourceA(update, kImageResourceType, MAKEINTRESOURCEA(kImageResourceId),
                         MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL), data, static_cast<DWORD>(resource->size()))) {
      error = LastError("adding the image resource");
      ok = false;
    }
  }
  if (!EndUpdateResourceA(update, ok ? FALSE : TRUE) && ok) {
    error = LastError("EndUpdateResource");
    ok = false;
  }
  return ok;
}

}  // namespace

bool WriteWithImageResource(const std::string& exe, const std::vector<uint8_t>* resource,
                            const std::string& out, std::string& error) {
  if (resource && resource->size() > MAXDWORD) {
    error = "the resource is too large";
    return false;
  }
  if (!CopyFileA(exe.c_str(), out.c_str(), FALSE)) {
    error = LastError(("copying " + exe).c_str());
    return false;
  }
  if (Update(out, resource, error)) return true;
  DeleteFileA(out.c_str());
  return false;
}
