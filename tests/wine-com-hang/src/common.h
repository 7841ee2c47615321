// Shared bits of the hang reproduction: the class id and a time-stamped log.
#pragma once
#include <windows.h>
#include <cstdio>
#include <cstdarg>

inline int EnvInt(const char* var, int fallback);

// {6B1E2A4C-7D3F-4E59-9A1B-2C3D4E5F607N}, N = REPRO_CLASS (0 to 3): one
// class per driver loop, so that loops sharing a prefix never take each
// other's single-use registration.
inline CLSID ReproClsid() {
  CLSID c = {0x6b1e2a4c, 0x7d3f, 0x4e59, {0x9a, 0x1b, 0x2c, 0x3d, 0x4e, 0x5f, 0x60, 0x70}};
  c.Data4[7] = static_cast<unsigned char>(0x70 + (EnvInt("REPRO_CLASS", 1) & 3));
  return c;
}

// Milliseconds of wall time, the same clock in every process.
inline unsigned long long NowMs() {
  FILETIME ft;
  GetSystemTimePreciseAsFileTime(&ft);
  ULARGE_INTEGER u;
  u.LowPart = ft.dwLowDateTime;
  u.HighPart = ft.dwHighDateTime;
  return u.QuadPart / 10000;
}

// Appends "ms pid tid text" to the file named by the environment variable
// `var` (nothing when unset). Each line is one WriteFile on an append handle.
inline void LogTo(const char* var, const char* fmt, ...) {
  char path[MAX_PATH];
  if (!GetEnvironmentVariableA(var, path, sizeof path)) return;
  char line[512];
  int n = snprintf(line, sizeof line, "%llu %lu %lu ", NowMs(), GetCurrentProcessId(), GetCurrentThreadId());
  va_list ap;
  va_start(ap, fmt);
  n += vsnprintf(line + n, sizeof line - n - 2, fmt, ap);
  va_end(ap);
  if (n > (int)sizeof line - 3) n = sizeof line - 3;
  line[n++] = '\n';
  HANDLE f = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return;
  DWORD wrote;
  WriteFile(f, line, n, &wrote, nullptr);
  CloseHandle(f);
}

inline int EnvInt(const char* var, int fallback) {
  char v[32];
  if (!GetEnvironmentVariableA(var, v, sizeof v)) return fallback;
  return atoi(v);
}
