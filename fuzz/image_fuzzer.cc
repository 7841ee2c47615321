// The compressed image, as the tool's resource would hold it, through the
// resource size guard, inflation and the image checks.

#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_run.h"
#include "image/checksum.h"
#include "image/embedded_image.h"
#include "image/inflate.h"
#include "image/validate_image.h"
#include "image_oracle.h"
#include "run/fatal_exit.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  BuildChecksumTable();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > UINT32_MAX) return 0;
  const uint32_t resource_size = static_cast<uint32_t>(size);
  CodeBlock code;
  bool inflated = false;
  std::vector<uint8_t> as_inflated;
  ProfileView profile;
  FuzzOutcome outcome = RunFuzzedStages([&] {
    if (resource_size < kMinimumImageResourceSize) FatalExit(1, "CODE RESOURCE TOO SMALL");
    code = InflateImage(data, resource_size);
    inflated = true;
    as_inflated.assign(code.bytes.get(), code.bytes.get() + code.size);
    profile = ValidateImage(code.bytes.get(), code.size);
  });

  if (!inflated) {
    FUZZ_REQUIRE(outcome.ended, "inflation neither ended the run nor gave a block");
    FUZZ_REQUIRE(outcome.before.empty(), "output before the image was inflated: \"%s\"", outcome.before.c_str());
    const std::string& m = outcome.message;
    FUZZ_REQUIRE(m == "CODE RESOURCE TOO SMALL" || m == "CODE DECOMPRESSION DIDN'T!!!" ||
                     m == "CODE DECOMPRESSION FAILED" || m == "OUT OF MEMORY",
                 "inflation ended with \"%s\"", m.c_str());
    FUZZ_REQUIRE((m == "CODE RESOURCE TOO SMALL") == (resource_size < kMinimumImageResourceSize),
                 "the resource size guard: \"%s\" for %u bytes", m.c_str(), resource_size);
    return 0;
  }

  FUZZ_REQUIRE(resource_size >= kMinimumImageResourceSize, "a resource below the minimum was inflated");
  FUZZ_REQUIRE(code.size > resource_size, "a block of %u bytes from %u was kept", code.size, resource_size);
  FUZZ_REQUIRE(std::memcmp(as_inflated.data(), code.bytes.get(), code.size) == 0,
               "the image checks wrote into the code block");

  const ImageExpectation expected = ExpectImage(as_inflated.data(), as_inflated.size());
  if (expected.message) {
    FUZZ_REQUIRE(outcome.ended && outcome.message == expected.message,
                 "the image checks gave \"%s\" where \"%s\" was due",
                 outcome.ended ? outcome.message.c_str() : "(release line)", expected.message);
    FUZZ_REQUIRE(outcome.before.empty(), "output before a failed check's message: \"%s\"",
                 outcome.before.c_str());
  } else {
    FUZZ_REQUIRE(!outcome.ended, "a block passing every check ended with \"%s\"", outcome.message.c_str());
    FUZZ_REQUIRE(outcome.before == expected.release_line, "the release line read \"%s\", not \"%s\"",
                 outcome.before.c_str(), expected.release_line.c_str());
    FUZZ_REQUIRE(profile.offset == expected.profile_offset && profile.length == expected.profile_length,
                 "the profile block came out at %u+%u, not %u+%u", profile.offset, profile.length,
                 expected.profile_offset, expected.profile_length);
  }
  return 0;
}
