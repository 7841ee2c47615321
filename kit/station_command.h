#ifndef K27_KIT_STATION_COMMAND_H_
#define K27_KIT_STATION_COMMAND_H_

#include "kit_command_line.h"

// k27kit station PROGRAM --record FILE [--parallel N]: runs PROGRAM, the
// unchanged tool, once for each serial number typed or scanned, up to N at
// a time, and records every run in FILE (docs/station.md). 0 when every run
// programmed its device, 1 otherwise or when it refused to start.
int RunStation(const KitCommand& command);

#endif  // K27_KIT_STATION_COMMAND_H_
