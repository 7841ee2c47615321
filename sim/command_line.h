#ifndef K27_SIM_COMMAND_LINE_H_
#define K27_SIM_COMMAND_LINE_H_

// What k27sim.exe was asked to do. COM starts it as the registration's
// command line plus "-Embedding"; a person runs it with one of the switches
// below. A switch starts with "/" or "-" and is not case-sensitive.
//
//   k27sim /RegServer [/bench FILE] [/journal FILE] [/force]
//   k27sim /RegServerPerUser [/bench FILE] [/journal FILE] [/force]
//   k27sim /UnregServer
//   k27sim /UnregServerPerUser
//   k27sim -Embedding     (as COM starts it; the bench and the journal
//                          come from the registration, beside its command line)
//   k27sim [/bench FILE] [/journal FILE] -Embedding     (started by hand)

#include <string>
#include <vector>

enum class SimMode { kUsage, kServe, kRegister, kUnregister };

// Machine-wide (every user; needs administrator rights on Windows) or the
// current user's own classes.
enum class RegistrationScope { kMachine, kUser };

struct SimCommand {
  SimMode mode = SimMode::kUsage;
  RegistrationScope scope = RegistrationScope::kMachine;
  std::wstring bench;    // empty: the built-in bench
  std::wstring journal;  // empty: no journal
  bool force = false;
  // Why the command line was not understood; empty for a plain usage request.
  std::wstring error;
};

// The arguments after the program's own name.
SimCommand ParseCommandLine(const std::vector<std::wstring>& args);

// The usage text, one line per form.
const char* UsageText();

// One argument as the Windows command-line parser reads it back: quoted when
// it is empty or holds a blank, tab or quote, with the quotes and the
// backslashes before them escaped.
std::wstring QuoteArgument(const std::wstring& arg);

// The registration's command line for COM: the server's full path, quoted.
std::wstring ServerCommandLine(const std::wstring& exe);

// The program that a registration's command line starts: the quoted path,
// or the text up to the first ".exe " or the end, as COM reads it.
std::wstring CommandLineProgram(const std::wstring& command_line);

// Its file name alone ("k27sim.exe"), lower case.
std::wstring ProgramFileName(const std::wstring& command_line);

#endif  // K27_SIM_COMMAND_LINE_H_
