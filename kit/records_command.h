#ifndef K27_KIT_RECORDS_COMMAND_H_
#define K27_KIT_RECORDS_COMMAND_H_

#include "kit_command_line.h"

// k27kit records FILE... [--csv OUT]: what one or more stations' record
// files hold (records_summary.h). 0 when every file was read, 1 otherwise.
int RunRecords(const KitCommand& command);

#endif  // K27_KIT_RECORDS_COMMAND_H_
