#ifndef K27_BENCH_CLASSES_ROOT_WIN_H_
#define K27_BENCH_CLASSES_ROOT_WIN_H_

// The registry's roots of classes, as registration reads and writes them.

#include <windows.h>

#include <memory>
#include <vector>

#include "bench/registration.h"

// HKLM\Software\Classes (every user) or HKCU\Software\Classes (this user),
// in the 64-bit view or the 32-bit one (where 32-bit programs register).
std::unique_ptr<ClassesRoot> OpenClassesRoot(RegistrationScope scope, bool view_32bit = false);

// The machine's classes in both views: a 64-bit client activates a local
// server registered in either.
std::vector<std::unique_ptr<ClassesRoot>> OpenMachineClassesRoots();
// The same roots, to be handed to the rules.
std::vector<ClassesRoot*> Pointers(const std::vector<std::unique_ptr<ClassesRoot>>& roots);

#endif  // K27_BENCH_CLASSES_ROOT_WIN_H_
