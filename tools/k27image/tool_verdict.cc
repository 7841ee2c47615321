#include "k27image/tool_verdict.h"

#include "image/inflate.h"

CapturedExit::CapturedExit() : previous_platform_(SetExitPlatform(this)), previous_sink_(SetConsoleSink(this)) {}

CapturedExit::~CapturedExit() {
  SetConsoleSink(previous_sink_);
  SetExitPlatform(previous_platform_);
}

void CapturedExit::EndProcess(int status) { throw RunEnded{status}; }

bool IsZlibHeader(const std::vector<uint8_t>& bytes) {
  return bytes.size() >= 2 && (bytes[0] & 0x0F) == 8 && ((bytes[0] << 8) | bytes[1]) % 31 == 0;
}

bool InflateAsTheTool(const std::vector<uint8_t>& resource, CodeBlock& code, Refusal& refusal) {
  if (resource.size() < kMinimumImageResourceSize) {
    refusal = {"CODE RESOURCE TOO SMALL", 1};
    return false;
  }
  CapturedExit captured;
  try {
    RunStages([&] { code = InflateImage(resource.data(), static_cast<uint32_t>(resource.size())); });
    return true;
  } catch (const RunEnded& end) {
    refusal = {captured.Message(), end.status};
  }
  return false;
}
