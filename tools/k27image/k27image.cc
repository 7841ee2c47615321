// k27image: makes and embeds the firmware image resource that k27prog
// carries. Adding a command is one function and one row below.

#include <cstdio>
#include <string>
#include <vector>

#include "k27image/image_commands.h"
#include "k27image/info_command.h"
#include "run/console.h"
#include "run/utf8.h"

namespace {

struct CommandRow {
  const char* name;
  const char* arguments;
  ImageCommand run;
};

const CommandRow kCommands[] = {
    {"shipped", "OUT", ShippedCommand},
    {"pack", "CODEBLOCK OUT", PackCommand},
    {"embed", "EXE RESOURCE OUT_EXE | --remove EXE OUT_EXE", EmbedCommand},
    {"info", "FILE", InfoCommand},
};

int ListCommands() {
  std::fprintf(stderr, "usage:\n");
  for (const CommandRow& row : kCommands) std::fprintf(stderr, "  k27image %s %s\n", row.name, row.arguments);
  return 2;
}

// The arguments as UTF-8, whatever script their paths are in.
int Run(const std::vector<std::string>& args) {
  if (args.empty()) return ListCommands();
  for (const CommandRow& row : kCommands) {
    if (args[0] == row.name) return row.run(std::vector<std::string>(args.begin() + 1, args.end()));
  }
  WriteUtf8(stderr, "k27image: unknown command " + args[0] + "\n");
  return ListCommands();
}

}  // namespace

#ifdef _WIN32
// Windows gives a program's arguments in UTF-16: a narrow argv would hold
// them in the ANSI code page, with '?' for every letter outside it.
int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    std::string utf8;
    AppendUtf8(utf8, argv[i]);
    args.push_back(std::move(utf8));
  }
  return Run(args);
}
#else
int main(int argc, char** argv) { return Run(std::vector<std::string>(argv + 1, argv + argc)); }
#endif
