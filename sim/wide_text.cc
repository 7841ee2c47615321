#include "host_path.h"

#include <windows.h>

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr, nullptr);
  return out;
}

std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int size = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), size);
  return out;
}

std::wstring EnvironmentValue(const wchar_t* name) {
  const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
  if (size == 0) return {};
  std::wstring value(size, L'\0');
  const DWORD length = GetEnvironmentVariableW(name, value.data(), size);
  value.resize(length < size ? length : 0);
  return value;
}

std::wstring HostPath(const std::wstring& path) {
  if (path.empty() || path[0] != L'/') return path;
  // Wine's own conversion knows the prefix's drive mappings; on Windows the
  // export is absent and the path stays as given.
  using ToDos = WCHAR*(CDECL*)(const char*);
  const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  const auto to_dos = kernel ? reinterpret_cast<ToDos>(
                                   reinterpret_cast<void*>(GetProcAddress(kernel, "wine_get_dos_file_name")))
                             : nullptr;
  if (!to_dos) return path;
  WCHAR* dos = to_dos(Utf8(path).c_str());
  if (!dos) return path;
  std::wstring result(dos);
  HeapFree(GetProcessHeap(), 0, dos);
  return result;
}
