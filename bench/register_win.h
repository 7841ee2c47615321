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

// The path as a registration gives it to COM: itself, or its short (8.3)
// form once it is longer than kLongestServerPath; empty when it is longer
// than kLongestStartablePath, or has no short form short enough (8.3 names
// can be turned off on a Windows volume).
std::wstring RegistrablePath(const std::wstring& full_path);

// The bench and journal of the registration that COM started this server
// by: the classes as COM sees them, when their registration names this very
// program (ServedFiles).
struct RegisteredFiles;
RegisteredFiles FilesOfThisServer();

// Why the simulator at that path cannot be registered (RegistrablePath).
std::string TooLongToRegister(const std::wstring& simulator);


#endif  // K27_BENCH_REGISTER_WIN_H_
