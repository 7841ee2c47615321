#include "k27image/image_commands.h"

#include <cstdio>

#include "k27image/pack.h"
#include "k27image/resource_update.h"
#include "k27image/shipped_image.h"
#include "lib/file_bytes.h"
#include "run/console.h"

int Usage(const char* command, const char* arguments) {
  std::fprintf(stderr, "usage: k27image %s %s\n", command, arguments);
  return 2;
}

int Fail(const std::string& reason) {
  WriteUtf8(stderr, "k27image: " + reason + "\n");
  return 1;
}

namespace {

// Packs and writes, refusing a resource the tool would not accept.
int WritePacked(const std::vector<uint8_t>& code, const std::filesystem::path& out) {
  const std::vector<uint8_t> stream = PackCodeBlock(code);
  if (const char* problem = PackedSizeProblem(stream.size(), code.size())) return Fail(problem);
  std::string error;
  if (!WriteFileBytes(out, stream, error)) return Fail(error);
  return 0;
}

}  // namespace

int ShippedCommand(const std::vector<std::string>& args) {
  if (args.size() != 1) return Usage("shipped", "OUT");
  return WritePacked(BuildShippedCodeBlock(), Utf8Path(args[0]));
}

int PackCommand(const std::vector<std::string>& args) {
  if (args.size() != 2) return Usage("pack", "CODEBLOCK OUT");
  std::vector<uint8_t> code;
  std::string error;
  if (!ReadFileBytes(Utf8Path(args[0]), code, error)) return Fail(error);
  return WritePacked(code, Utf8Path(args[1]));
}

int EmbedCommand(const std::vector<std::string>& args) {
  const char* kArguments = "EXE RESOURCE OUT_EXE | --remove EXE OUT_EXE";
  std::string error;
  if (args.size() == 3 && args[0] == "--remove") {
    if (!WriteWithImageResource(Utf8Path(args[1]), nullptr, Utf8Path(args[2]), error)) return Fail(error);
    return 0;
  }
  if (args.size() != 3 || args[0].starts_with("--")) return Usage("embed", kArguments);
  // Any bytes at all: tests embed resources the tool must refuse.
  std::vector<uint8_t> resource;
  if (!ReadFileBytes(Utf8Path(args[1]), resource, error)) return Fail(error);
  if (!WriteWithImageResource(Utf8Path(args[0]), &resource, Utf8Path(args[2]), error)) return Fail(error);
  return 0;
}
