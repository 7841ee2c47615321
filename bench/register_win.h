#ifndef K27_BENCH_REGISTER_WIN_H_
#define K27_BENCH_REGISTER_WIN_H_

// The simulator's registration with COM, as k27sim's /RegServer switches
// and the kit's register and unregister commands do it: each prints one line
// saying what it did and returns the exit status (0 done, 1 refused or
// failed).

#include <string>
#include <vector>

#include "bench/registration.h"

// `simulator` is the full path of the k27sim.exe to register; k27ps.dll
// must sit beside it.
int RunRegistration(const RegistrationRequest& command, const std::wstring& simulator);
int RunUnregistration(const RegistrationRequest& command);

// A registration of another program where COM would look for the device
// server, for any user and in either registry view, described; empty when
// there is none.
std::wstring ForeignRegistrationAnywhere();

// The path as a registration gives it to COM (RegisteredPathForm): itself,
// or under Wine past its limit its short (8.3) form; empty, with why in
// `refusal` (and the Windows error where one was met), when it cannot be
// registered.
std::wstring RegistrablePath(const std::wstring& full_path, std::string& refusal);

// The bench and journal of the registration that COM started this server
// by (ServedFiles), for this process's integrity level.
struct RegisteredFiles;
RegisteredFiles FilesOfThisServer();

#endif  // K27_BENCH_REGISTER_WIN_H_
