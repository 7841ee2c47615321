#ifndef K27_SIM_BENCH_MEMORY_H_
#define K27_SIM_BENCH_MEMORY_H_

// A shared bench's devices as runs left them (bench/bench_state.h), and the
// state file that keeps them across server processes: read once this
// process is the one that plays the bench, written whole after every change,
// so that a server killed at any moment leaves the last state or the one
// before it, never a torn file. Each device is changed under a lock of its
// own; the file is written under the file's lock. Neither is held while a
// call takes its time.

#include <windows.h>

#include <functional>
#include <string>

#include "bench/bench.h"
#include "bench/bench_state.h"
#include "sessions.h"

// Reads the state file (empty path: the memory lasts as long as the
// process). False, with the message the journal's Start line and every
// refused creation carry, when the file is damaged, cannot be read, or
// belongs to another bench: it is then left as it is.
bool StartMemory(const std::wstring& state_path, std::string& error);

// The bench with every device as its record shows it now.
Bench RememberedBench();

// Applies what the device answered to its memory; when that changed it,
// records the run and writes the state file. Returns "" or why the file
// could not be written.
std::string ChangeDevice(size_t device, Session& session, Op op,
                         const std::function<bool(DeviceMemory&)>& change);

#endif  // K27_SIM_BENCH_MEMORY_H_
