#ifndef K27_KIT_STATE_COMMAND_H_
#define K27_KIT_STATE_COMMAND_H_

// k27kit state FILE [--reset]: what a shared bench's state file says of
// its devices (checked against the bench it names, where that can be
// read), or, with --reset, the bench put back to its start: the file
// removed while no simulator plays the bench. Exit status 0, or 1 for a
// file that is no whole state file or a bench that cannot be reset now.

#include <string>

int RunState(const std::wstring& state_file, bool reset);

#endif  // K27_KIT_STATE_COMMAND_H_
