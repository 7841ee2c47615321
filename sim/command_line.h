#ifndef K27_SIM_COMMAND_LINE_H_
#define K27_SIM_COMMAND_LINE_H_

// What k27sim.exe was asked to do. COM starts it as the registration's
// command line plus "-Embedding"; a person runs it with one of the switches
// below. A switch starts with "/" or "-" and is not case-sensitive.
//
//   k27sim /RegServer [/bench FILE] [/journal FILE] [/state FILE] [/force]
//   k27sim /RegServerPerUser [/bench FILE] [/journal FILE] [/state FILE] [/force]
//   k27sim /UnregServer
//   k27sim /UnregServerPerUser
//   k27sim -Embedding     (as COM starts it; the bench and the journal
//                          come from the registration, beside its command line)
//   k27sim [/bench FILE] [/journal FILE] -Embedding     (started by hand)

#include <string>
#include <vector>

#include "bench/registration.h"

enum class SimMode { kUsage, kServe, kRegister, kUnregister };

// Where to register, and the bench and journal (empty: the built-in bench,
// no journal); started by hand, the files to serve.
struct SimCommand : RegistrationRequest {
  SimMode mode = SimMode::kUsage;
  // Why the command line was not understood; empty for a plain usage request.
  std::wstring error;
};

// The arguments after the program's own name.
SimCommand ParseCommandLine(const std::vector<std::wstring>& args);

// The usage text, one line per form.
const char* UsageText();

#endif  // K27_SIM_COMMAND_LINE_H_
