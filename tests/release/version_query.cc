// k27_version_query FILE: what Windows itself reads from a program's
// version resource (as Explorer's Details tab does) and its manifest, one
// "key=value" line each, in UTF-8. Tests read the release kit's programs
// with it.

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string Utf8(const wchar_t* text) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? n - 1 : 0, '\0');
  if (n > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
  return out;
}

std::wstring Wide(const char* text) {
  const int n = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  std::wstring out(n > 0 ? n - 1 : 0, L'\0');
  if (n > 1) MultiByteToWideChar(CP_ACP, 0, text, -1, out.data(), n);
  return out;
}

void PrintVersion(const char* key, DWORD high, DWORD low) {
  std::printf("%s=%lu.%lu.%lu.%lu\n", key, high >> 16, high & 0xFFFF, low >> 16, low & 0xFFFF);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: k27_version_query FILE\n");
    return 2;
  }
  const std::wstring path = Wide(argv[1]);
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  if (size == 0) {
    std::printf("version=none (error %lu)\n", GetLastError());
  } else {
    std::vector<BYTE> info(size);
    if (!GetFileVersionInfoW(path.c_str(), 0, size, info.data())) {
      std::fprintf(stderr, "GetFileVersionInfo failed (error %lu)\n", GetLastError());
      return 1;
    }
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) && fixed) {
      PrintVersion("fixed.FileVersion", fixed->dwFileVersionMS, fixed->dwFileVersionLS);
      PrintVersion("fixed.ProductVersion", fixed->dwProductVersionMS, fixed->dwProductVersionLS);
      std::printf("fixed.FileFlags=0x%lX\n", fixed->dwFileFlags & fixed->dwFileFlagsMask);
      std::printf("fixed.FileType=%lu\n", fixed->dwFileType);
    }
    // The string table Explorer shows: the first translation's.
    struct Translation {
      WORD language, code_page;
    }* translations = nullptr;
    if (!VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translations),
                        &length) ||
        length < sizeof(Translation)) {
      std::printf("translation=none\n");
      return 0;
    }
    std::printf("translation=%04X %04X\n", translations[0].language, translations[0].code_page);
    const wchar_t* keys[] = {L"FileDescription", L"FileVersion", L"InternalName", L"OriginalFilename",
                             L"ProductName", L"ProductVersion", L"FirmwareRelease"};
    for (const wchar_t* key : keys) {
      wchar_t query[128];
      swprintf(query, 128, L"\\StringFileInfo\\%04x%04x\\%ls", translations[0].language, translations[0].code_page,
               key);
      wchar_t* value = nullptr;
      if (VerQueryValueW(info.data(), query, reinterpret_cast<void**>(&value), &length) && value)
        std::printf("%s=%s\n", Utf8(key).c_str(), Utf8(value).c_str());
    }
  }

  HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  HRSRC manifest = module ? FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24)) : nullptr;
  HGLOBAL loaded = manifest ? LoadResource(module, manifest) : nullptr;
  const char* text = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
  if (text) {
    std::string xml(text, SizeofResource(module, manifest));
    for (char& c : xml) {
      if (c == '\r' || c == '\n') c = ' ';
    }
    std::printf("manifest=%s\n", xml.c_str());
  } else {
    std::printf("manifest=none\n");
  }
  if (module) FreeLibrary(module);
  return 0;
}
