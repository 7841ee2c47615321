#ifndef K27_LIB_ARGUMENTS_H_
#define K27_LIB_ARGUMENTS_H_

// Command lines as Windows splits them.

#include <string>
#include <utility>
#include <vector>

// Every letter in lower case, as towlower gives it: for what Windows
// compares without regard to case (switches, file names, registry keys).
std::wstring Lower(std::wstring text);

// A command line that was not understood: the command's defaults, with why.
template <typename Command>
Command CommandMistake(std::wstring why) {
  Command command;
  command.error = std::move(why);
  return command;
}

// One argument as the Windows command-line parser reads it back: quoted when
// it is empty or holds a blank, tab or quote, with the quotes and the
// backslashes before them escaped.
std::wstring QuoteArgument(const std::wstring& arg);

#ifdef _WIN32
// The arguments after the program's name in a command line, as Windows
// splits it.
std::vector<std::wstring> ArgumentsOf(const std::wstring& command_line);

// The program's arguments, after its own name, as Windows splits them.
std::vector<std::wstring> CommandLineArguments();
#endif

#endif  // K27_LIB_ARGUMENTS_H_
