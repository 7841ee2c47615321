#include "carried_image.h"

#include <algorithm>

#include "image/byte_order.h"
#include "image/checksum.h"
#include "image/embedded_image.h"
#include "image/validate_image.h"
#include "k27image/pe_file.h"
#include "k27image/tool_verdict.h"
#include "programming/boot_gate.h"

namespace {

TemplateValue Number(int64_t n) { return {true, n, {}}; }

}  // namespace

bool ReadCarriedImage(const std::vector<uint8_t>& program, CarriedImage& image, std::string& error) {
  PeHeaders pe;
  if (!ReadPeHeaders(program, pe, error)) {
    error = "not a Windows program (" + error + ")";
    return false;
  }
  ResourceLookup found;
  if (!FindProgramResource(program, pe, kImageResourceType, kImageResourceId, found, error)) return false;
  if (!found.found) {
    error = "it carries no firmware image (CODE RESOURCE NOT FOUND)";
    return false;
  }
  const auto begin = program.begin() + found.offset;
  const std::vector<uint8_t> resource(begin, begin + found.size);
  BuildChecksumTable();
  CodeBlock code;
  Refusal refusal;
  if (!InflateAsTheTool(resource, code, refusal)) {
    error = "it would refuse its own image: " + refusal.message;
    return false;
  }
  const ImageVerdict verdict = CheckImage(code.bytes.get(), code.size);
  if (verdict.check != 0) {
    error = std::string("it would refuse its own image: ") + verdict.message;
    return false;
  }
  const uint8_t* c = code.bytes.get();
  const uint8_t* p = c + verdict.profile.offset;
  image.code.assign(c, c + code.size);
  image.profile_offset = verdict.profile.offset;
  image.profile_size = verdict.profile.length;
  image.values = {
      {"release", {false, 0,
                   std::to_string(ReadBig16(c + kCodeBranch)) + "." + std::to_string(ReadBig16(c + kCodeVersion)) +
                       "." + std::to_string(ReadBig16(c + kCodeRevision)) + "(" +
                       std::to_string(ReadBig16(p + kProfileNumber)) + ")"}},
      {"code_size", Number(code.size)},
      {"profile_size", Number(verdict.profile.length)},
      {"store_start", Number(ReadBig32(c + kCodeStoreStart))},
      {"code_branch", Number(ReadBig16(c + kCodeBranch))},
      {"code_version", Number(ReadBig16(c + kCodeVersion))},
      {"code_revision", Number(ReadBig16(c + kCodeRevision))},
      {"profile_number", Number(ReadBig16(p + kProfileNumber))},
      {"min_boot_branch", Number(ReadBig16(c + kCodeMinimumBootBranch))},
      {"min_boot_version", Number(ReadBig16(c + kCodeMinimumBootVersion))},
  };
  return true;
}
