#include "carried_image.h"

#include <algorithm>

#include "image/checksum.h"
#include "image/embedded_image.h"
#include "image/validate_image.h"
#include "k27image/pe_file.h"
#include "k27image/tool_verdict.h"
#include "lib/reject.h"
#include "model/block_layout.h"

namespace {

TemplateValue Number(int64_t n) { return {true, n, {}}; }

// The scenarios' values are read at the design's offsets, not the tool's, so
// that a field the tool misplaces does not move the expectation with it.
int64_t Field16(const uint8_t* header, size_t at) { return model::GetBig(header + at, 2); }

}  // namespace

bool ReadCarriedImage(const std::vector<uint8_t>& program, CarriedImage& image, std::string& error) {
  PeHeaders pe;
  if (!ReadPeHeaders(program, pe, error)) return Reject(error, "not a Windows program (" + error + ")");
  ResourceLookup found;
  if (!FindProgramResource(program, pe, kImageResourceType, kImageResourceId, found, error)) return false;
  if (!found.found) return Reject(error, "it carries no firmware image (CODE RESOURCE NOT FOUND)");
  const auto begin = program.begin() + found.offset;
  const std::vector<uint8_t> resource(begin, begin + found.size);
  BuildChecksumTable();
  CodeBlock code;
  Refusal refusal;
  if (!InflateAsTheTool(resource, code, refusal))
    return Reject(error, "it would refuse its own image: " + refusal.message);
  const ImageVerdict verdict = CheckImage(code.bytes.get(), code.size);
  if (verdict.check != 0) return Reject(error, std::string("it would refuse its own image: ") + verdict.message);
  const uint8_t* c = code.bytes.get();
  const uint8_t* p = c + verdict.profile.offset;
  image.code.assign(c, c + code.size);
  image.profile_offset = verdict.profile.offset;
  image.profile_size = verdict.profile.length;
  image.values = {
      {"release", {false, 0,
                   std::to_string(Field16(c, model::kCodeBranchAt)) + "." +
                       std::to_string(Field16(c, model::kCodeVersionAt)) + "." +
                       std::to_string(Field16(c, model::kCodeRevisionAt)) + "(" +
                       std::to_string(Field16(p, model::kProfileNumberAt)) + ")"}},
      {"code_size", Number(code.size)},
      {"profile_size", Number(verdict.profile.length)},
      {"store_start", Number(model::GetBig(c + model::kStoreStartAt, 4))},
      {"code_branch", Number(Field16(c, model::kCodeBranchAt))},
      {"code_version", Number(Field16(c, model::kCodeVersionAt))},
      {"code_revision", Number(Field16(c, model::kCodeRevisionAt))},
      {"profile_number", Number(Field16(p, model::kProfileNumberAt))},
      {"min_boot_branch", Number(Field16(c, model::kMinBootBranchAt))},
      {"min_boot_version", Number(Field16(c, model::kMinBootVersionAt))},
  };
  return true;
}
