#ifndef K27_KIT_QUALIFY_COMMAND_H_
#define K27_KIT_QUALIFY_COMMAND_H_

// k27kit qualify: plays every scenario of the catalogue against one
// k27prog.exe with the bench simulator, and says whether that program does
// what its documentation says. Exit status 0 when every scenario that
// applies passed and every outcome a run can reach was reached; 1 when one
// did not, or the qualification could not be made; 2 for a catalogue that
// cannot be read.

#include "kit_command_line.h"

int RunQualify(const KitCommand& command);

#endif  // K27_KIT_QUALIFY_COMMAND_H_
