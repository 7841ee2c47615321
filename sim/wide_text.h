#ifndef K27_SIM_HOST_PATH_H_
#define K27_SIM_HOST_PATH_H_

#include <string>

// A path handed in from outside (environment, command line) as a Windows
// path. Under Wine a Unix path ("/tmp/x") is turned into the DOS path that
// names the same file; anything else is taken as it is.
std::wstring HostPath(const std::wstring& path);

// The environment variable's value, or an empty string.
std::wstring EnvironmentValue(const wchar_t* name);

std::string Utf8(const std::wstring& text);
std::wstring Wide(const std::string& utf8);

#endif  // K27_SIM_HOST_PATH_H_
