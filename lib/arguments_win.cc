#include "lib/arguments.h"

#include <windows.h>
#include <shellapi.h>

std::vector<std::wstring> ArgumentsOf(const std::wstring& command_line) {
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(command_line.c_str(), &argc);
  std::vector<std::wstring> args;
  for (int i = 1; argv && i < argc; ++i) args.emplace_back(argv[i]);
  if (argv) LocalFree(argv);
  return args;
}

std::vector<std::wstring> CommandLineArguments() { return ArgumentsOf(GetCommandLineW()); }
