#ifndef K27_SIM_REGISTER_COMMAND_H_
#define K27_SIM_REGISTER_COMMAND_H_

// /RegServer, /RegServerPerUser, /UnregServer, /UnregServerPerUser: each
// prints one line saying what it did and returns the exit status (0 done,
// 1 refused or failed).

#include "command_line.h"

int RunRegistration(const SimCommand& command);
int RunUnregistration(const SimCommand& command);

#endif  // K27_SIM_REGISTER_COMMAND_H_
