#ifndef K27_LIB_LONG_PATH_H_
#define K27_LIB_LONG_PATH_H_

// Paths of any length for the Win32 file calls. Below 248 characters
// (MAX_PATH less room for a file name) every call takes a path as it is.
// From there on Windows takes a path as it is only where the PC has the
// LongPathsEnabled policy (which the programs' longPathAware manifest then
// uses); everywhere it takes the extended form, "\\?\C:\..." or
// "\\?\UNC\server\share\...", which must be full, with backslashes only and
// no "." or ".." left, as GetFullPathNameW makes it.

#include <string>

// The extended form of a full path (as GetFullPathNameW gives it) once it is
// 248 characters or more; shorter paths, paths already extended, device
// paths and anything not full, as they are.
std::wstring ExtendedLengthPath(const std::wstring& full_path);

#ifdef _WIN32
// A path as a file call should get it: made full (against the current
// folder), then extended when long. The path itself when it cannot be made
// full.
std::wstring PathForFileCalls(const std::wstring& path);

// A path made full against the current folder (the path itself when it
// cannot be).
std::wstring FullPath(const std::wstring& path);

// The full path of the running program.
std::wstring ThisProgram();
#endif

// The folder of a path, without its last backslash.
std::wstring Folder(const std::wstring& path);

#endif  // K27_LIB_LONG_PATH_H_
