#include "k27image/info_command.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <limits>
#include <string>

#include "image/byte_order.h"
#include "image/checksum.h"
#include "image/embedded_image.h"
#include "image/validate_image.h"
#include "k27image/image_commands.h"
#include "k27image/pe_file.h"
#include "k27image/tool_verdict.h"
#include "lib/file_bytes.h"
#include "model/block_layout.h"
#include "run/console.h"
#include "run/fatal_exit.h"

namespace {

void PrintBytes(const char* label, const uint8_t* p, size_t n) {
  std::printf("  %-20s", label);
  for (size_t i = 0; i < n; ++i) std::printf(" %02X", p[i]);
  std::printf("\n");
}

void PrintTargetName(const uint8_t* header) {
  const uint8_t* name = header + kHeaderTargetName;
  std::string shown;
  size_t i = 0;
  for (; i < 32 && name[i] != 0; ++i) {
    char escaped[8];
    if (name[i] >= 0x20 && name[i] < 0x7F && name[i] != '"' && name[i] != '\\')
      shown.push_back(static_cast<char>(name[i]));
    else
      shown += (std::snprintf(escaped, sizeof escaped, "\\x%02X", name[i]), escaped);
  }
  std::printf("  %-20s \"%s\"%s\n", "target name", shown.c_str(), i == 32 ? " (no terminator)" : "");
}

// Offsets 0 to 51 are laid out alike in both headers.
void PrintCommonFields(const uint8_t* header) {
  std::printf("  %-20s 0x%04X\n", "magic", ReadBig16(header + kHeaderMagic));
  std::printf("  %-20s %u\n", "block type", ReadBig16(header + kHeaderBlockType));
  std::printf("  %-20s 0x%08" PRIX32 "\n", "start address", ReadBig32(header + kHeaderStartAddress));
  std::printf("  %-20s 0x%08" PRIX32 "\n", "end address", ReadBig32(header + kHeaderEndAddress));
  PrintBytes("opaque at 12", header + 12, 4);
  PrintTargetName(header);
  std::printf("  %-20s %u\n", "header length", ReadBig16(header + kHeaderLength));
  std::printf("  %-20s X %u, Y %u\n", "header version", header[kHeaderXVersion], header[kHeaderYVersion]);
}

void PrintCodeHeader(const uint8_t* code) {
  std::printf("code header\n");
  PrintCommonFields(code);
  std::printf("  %-20s %" PRIu32 "\n", "time stamp", ReadBig32(code + model::kTimeStampAt));
  PrintBytes("opaque at 56", code + 56, 18);
  std::printf("  %-20s %u\n", "branch", ReadBig16(code + kCodeBranch));
  std::printf("  %-20s %u\n", "version", ReadBig16(code + kCodeVersion));
  std::printf("  %-20s %u\n", "revision", ReadBig16(code + kCodeRevision));
  std::printf("  %-20s branch %u, version %u\n", "minimum boot code", ReadBig16(code + model::kMinBootBranchAt),
              ReadBig16(code + model::kMinBootVersionAt));
  std::printf("  %-20s 0x%08" PRIX32 "\n", "store start", ReadBig32(code + kCodeStoreStart));
  std::printf("  %-20s %" PRIu32 " (0x%08" PRIX32 ")\n", "store size", ReadBig32(code + kCodeStoreSize),
              ReadBig32(code + kCodeStoreSize));
}

void PrintProfileHeader(const uint8_t* profile) {
  std::printf("profile header\n");
  PrintCommonFields(profile);
  std::printf("  %-20s %u\n", "branch", ReadBig16(profile + kProfileBranch));
  std::printf("  %-20s %u\n", "version", ReadBig16(profile + kProfileVersion));
  std::printf("  %-20s %u\n", "revision", ReadBig16(profile + kProfileRevision));
  std::printf("  %-20s %u\n", "from revision", ReadBig16(profile + kProfileFromRevision));
  std::printf("  %-20s %u\n", "profile number", ReadBig16(profile + kProfileNumber));
  PrintBytes("opaque at 62", profile + 62, 2);
}

// Prints what can be read without leaving the block: the code header when
// the block holds it, the profile header when the store area lies inside
// the block and holds it.
void PrintFields(const uint8_t* code, uint32_t size) {
  std::printf("code block: %" PRIu32 " bytes\n", size);
  if (size < kCodeHeaderSize) {
    std::printf("code header: not all there (the block is shorter than %" PRIu32 " bytes)\n", kCodeHeaderSize);
    return;
  }
  PrintCodeHeader(code);
  const model::ProfileBlock place = model::FindProfile(code, size);
  if (place.place == model::ProfilePlace::kBelowBase) {
    std::printf("store area: starts below the code base address 0x%08" PRIX32 "\n", model::kCodeBase);
    return;
  }
  if (place.place != model::ProfilePlace::kInside) {
    std::printf("store area: does not end inside the code block\n");
    return;
  }
  const uint32_t offset = static_cast<uint32_t>(place.offset), store_size = static_cast<uint32_t>(place.length);
  std::printf("store area: %" PRIu32 " bytes at offset %" PRIu32 " (0x%" PRIX32 ") of the code block\n", store_size,
              offset, offset);
  if (store_size < kProfileHeaderSize) {
    std::printf("profile header: not all there (the store area is shorter than %" PRIu32 " bytes)\n",
                kProfileHeaderSize);
    return;
  }
  const uint8_t* profile = code + offset;
  PrintProfileHeader(profile);
  std::printf("release: %u.%u.%u(%u)\n", ReadBig16(code + kCodeBranch), ReadBig16(code + kCodeVersion),
              ReadBig16(code + kCodeRevision), ReadBig16(profile + kProfileNumber));
}

void PrintRefusal(const char* where, const Refusal& refusal) {
  std::printf("verdict: refused %s: %s (exit status %d)\n", where, refusal.message.c_str(), refusal.status);
}

// The verdict on image bytes: a resource (one zlib stream) or a plain code
// block.
int ReportImage(const std::vector<uint8_t>& file, bool resource) {
  BuildChecksumTable();
  CodeBlock code;
  if (resource) {
    Refusal refusal;
    if (!InflateAsTheTool(file, code, refusal)) {
      PrintRefusal("before the image checks", refusal);
      return 1;
    }
  } else {
    code.size = static_cast<uint32_t>(file.size());
    code.bytes.reset(new uint8_t[code.size]);
    std::copy(file.begin(), file.end(), code.bytes.get());
  }
  PrintFields(code.bytes.get(), code.size);

  const ImageVerdict verdict = CheckImage(code.bytes.get(), code.size);
  if (verdict.check != 0) {
    PrintRefusal(("at check " + std::to_string(verdict.check) + " of 24").c_str(), {verdict.message, verdict.status});
    return 1;
  }
  // The stage itself prints the release line, so its text is the tool's.
  CapturedExit captured;
  ValidateImage(code.bytes.get(), code.size);
  std::string line = captured.text;
  if (!line.empty() && line.back() == '\n') line.pop_back();
  std::printf("verdict: accepted; k27prog prints \"%s\"\n", line.c_str());
  return 0;
}

// A program: the image resource it carries, found as the tool finds its own.
int ReportProgram(const std::string& path, const std::vector<uint8_t>& file) {
  PeHeaders pe;
  ResourceLookup found;
  std::string error;
  if (!ReadPeHeaders(file, pe, error)) return Fail(path + ": not a Windows program (" + error + ")");
  if (!FindProgramResource(file, pe, kImageResourceType, kImageResourceId, found, error))
    return Fail(path + ": " + error);
  if (!found.found) {
    std::printf("image resource: none of type %s and id %d\n", kImageResourceType, kImageResourceId);
    PrintRefusal("before the image checks", {"CODE RESOURCE NOT FOUND", 1});
    return 1;
  }
  std::printf("image resource: %s %d, language 0x%04X, %" PRIu32 " bytes at offset %" PRIu32 "\n",
              kImageResourceType, kImageResourceId, found.language, found.size, found.offset);
  if (found.languages > 1 && found.language != 0)
    std::printf("  (one of %zu languages and none neutral: which one k27prog loads depends on the PC's language)\n",
                found.languages);
  const auto begin = file.begin() + found.offset;
  return ReportImage(std::vector<uint8_t>(begin, begin + found.size), true);
}

}  // namespace

int InfoCommand(const std::vector<std::string>& args) {
  if (args.size() != 1 || args[0].starts_with("--")) return Usage("info", "FILE");

  std::vector<uint8_t> file;
  std::string error;
  if (!ReadFileBytes(Utf8Path(args.back()), file, error)) return Fail(error);
  // Sizes are 32-bit counts in the tool.
  if (file.size() > std::numeric_limits<uint32_t>::max()) return Fail(args.back() + ": too large for an image");
  const bool program = IsProgramFile(file);
  const bool resource = IsZlibHeader(file);
  WriteUtf8(stdout, "file: " + args.back() + ", " + std::to_string(file.size()) + " bytes, read as " +
                        (program ? "a program" : resource ? "an image resource" : "a plain code block") + "\n");
  if (program) return ReportProgram(args.back(), file);
  return ReportImage(file, resource);
}
