#ifndef K27_LIB_SWITCH_OUTPUT_H_
#define K27_LIB_SWITCH_OUTPUT_H_

// Output of the registration switches and of k27kit's commands.
// k27sim.exe is a windowless program, so that COM
// never opens a console for it; what it has to say goes to the stream it
// was redirected to, or else to the console of the program that started it.

#include <string_view>

enum class OutputStream { kOut, kErr };

// UTF-8 text; each "\n" goes out as Windows' "\r\n".
void WriteText(OutputStream stream, std::string_view utf8);
// One line: the text and its line end.
void WriteLine(OutputStream stream, std::string_view utf8);

#endif  // K27_LIB_SWITCH_OUTPUT_H_
