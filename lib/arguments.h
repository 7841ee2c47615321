#ifndef K27_LIB_ARGUMENTS_H_
#define K27_LIB_ARGUMENTS_H_

// Command lines as Windows splits them.

#include <string>
#include <vector>

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
