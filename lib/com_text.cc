#include "lib/com_text.h"

#include <cstdio>

#include "lib/wide_text.h"

std::string HresultText(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
  return text;
}

std::string GuidText(const GUID& g) {
  char text[40];
  std::snprintf(text, sizeof text, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned long>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2],
                g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return text;
}

std::string SystemErrorText(DWORD code) {
  wchar_t* text = nullptr;
  FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                 code, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
  std::string message = text ? Utf8(text) : std::string();
  if (text) LocalFree(text);
  while (!message.empty() && std::string("\r\n. ").find(message.back()) != std::string::npos) message.pop_back();
  return (message.empty() ? "error" : message) + " (error " + std::to_string(code) + ")";
}
