#ifndef K27_K27IMAGE_INFO_COMMAND_H_
#define K27_K27IMAGE_INFO_COMMAND_H_

#include <string>
#include <vector>

// info FILE: prints the header fields of an image resource (one zlib
// stream), of a plain code block or of the image resource a program
// (k27prog.exe) carries, and the check, if any, at which k27prog would
// refuse it, with the message k27prog would print. The file's first two
// bytes decide: "MZ" means a program, a zlib header a resource. Returns 0 when the tool would accept the image, 1 when
// it would refuse it or the file cannot be read, 2 for wrong arguments.
int InfoCommand(const std::vector<std::string>& args);

#endif  // K27_K27IMAGE_INFO_COMMAND_H_
