// k27image: makes and embeds the firmware image resource that k27prog
// carries. Adding a command is one function and one row below.

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "image/image_commands.h"
#include "image/info_command.h"

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
    {"info", "[--resource | --code | --exe] FILE", InfoCommand},
};

int ListCommands() {
  std::fprintf(stderr, "usage:\n");
  for (const CommandRow& row : kCommands) std::fprintf(stderr, "  k27image %s %s\n", row.name, row.arguments);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return ListCommands();
  for (const CommandRow& row : kCommands) {
    if (std::strcmp(argv[1], row.name) == 0) return row.run(std::vector<std::string>(argv + 2, argv + argc));
  }
  std::fprintf(stderr, "k27image: unknown command %s\n", argv[1]);
  return ListCommands();
}
