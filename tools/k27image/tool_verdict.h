#ifndef K27_K27IMAGE_TOOL_VERDICT_H_
#define K27_K27IMAGE_TOOL_VERDICT_H_

// The tool's own image stages, run outside the tool: what k27prog would end
// with, caught instead of ending the process.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "image/embedded_image.h"
#include "run/console.h"
#include "run/fatal_exit.h"

// The tool's stages end the run through FatalExit. While one of these lives,
// that end is thrown as RunEnded instead, with the text it printed kept.
struct RunEnded {
  int status;
};

class CapturedExit : public ExitPlatform, public ConsoleSink {
 public:
  CapturedExit();
  ~CapturedExit() override;
  void UninitialiseCom() override {}
  int ReadKey() override { return ' '; }
  bool ScanCodeWaiting() override { return false; }
  [[noreturn]] void EndProcess(int status) override;
  void Write(std::string_view t) override { text.append(t); }
  void WriteWide(std::wstring_view) override {}
  void Flush() override {}
  // What FatalExit printed first: the outcome message.
  std::string Message() const { return text.substr(0, text.find('\n')); }

  std::string text;

 private:
  ExitPlatform* previous_platform_;
  ConsoleSink* previous_sink_;
};

struct Refusal {
  std::string message;
  int status = 0;
};

// The first two bytes read as a zlib header.
bool IsZlibHeader(const std::vector<uint8_t>& bytes);

// The resource checks and the inflation that k27prog runs on its embedded
// image, with the outcome the run would end with.
bool InflateAsTheTool(const std::vector<uint8_t>& resource, CodeBlock& code, Refusal& refusal);

#endif  // K27_K27IMAGE_TOOL_VERDICT_H_
