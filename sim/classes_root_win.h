#ifndef K27_SIM_CLASSES_ROOT_WIN_H_
#define K27_SIM_CLASSES_ROOT_WIN_H_

// The registry's roots of classes, as registration reads and writes them.

#include <windows.h>

#include <memory>

#include "command_line.h"
#include "registration.h"

// HKLM\Software\Classes (every user) or HKCU\Software\Classes (this user),
// in the 64-bit view or the 32-bit one (where 32-bit programs register).
std::unique_ptr<ClassesRoot> OpenClassesRoot(RegistrationScope scope, bool view_32bit = false);

#endif  // K27_SIM_CLASSES_ROOT_WIN_H_
