#ifndef K27_K27IMAGE_IMAGE_COMMANDS_H_
#define K27_K27IMAGE_IMAGE_COMMANDS_H_

#include <string>
#include <vector>

// The commands of k27image. Each takes the arguments after its name, reports
// problems on standard error and returns the process exit status: 0 done,
// 1 failed, 2 wrong arguments.
using ImageCommand = int (*)(const std::vector<std::string>& args);

// shipped OUT: writes the shipped image resource.
int ShippedCommand(const std::vector<std::string>& args);
// pack CODEBLOCK OUT: compresses a code block as the image resource.
int PackCommand(const std::vector<std::string>& args);
// embed EXE RESOURCE OUT_EXE | embed --remove EXE OUT_EXE: a copy of a
// program with its image resource replaced or removed.
int EmbedCommand(const std::vector<std::string>& args);

// Shared by the commands.
int Usage(const char* command, const char* arguments);
int Fail(const std::string& reason);

#endif  // K27_K27IMAGE_IMAGE_COMMANDS_H_
