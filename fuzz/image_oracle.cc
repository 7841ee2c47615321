#include "image_oracle.h"

#include <cstdio>
#include <cstring>

#include "model/block_crc.h"
#include "model/block_layout.h"

namespace {

uint32_t Big16(const uint8_t* p) { return model::GetBig(p, 2); }
uint32_t Big32(const uint8_t* p) { return model::GetBig(p, 4); }

bool NamesK27(const uint8_t* header) { return std::memcmp(header + model::kNameAt, "K27", 4) == 0; }

ImageExpectation Fails(const char* message) {
  ImageExpectation e;
  e.message = message;
  return e;
}

}  // namespace

ImageExpectation ExpectImage(const uint8_t* code, size_t size) {
  using namespace model;  // the block layout and checksum
  const uint64_t base = kCodeBase;
  if (size % 4) return Fails("CODE BLOCK SIZE NOT A MULTIPLE OF 4");
  if (!BlockVerifies(code, size)) return Fails("CODE BLOCK CRC CHECK FAILED");
  if (Big16(code + kMagicAt) != 0xC0DE) return Fails("BAD CODE BLOCK MAGIC");
  // A block shorter than its own header is no code block.
  if (Big16(code + kTypeAt) != 1 || size < kCodeHeaderSize) return Fails("NOT A CODE BLOCK");
  if (!NamesK27(code)) return Fails("NOT K27 CODE");
  if (Big32(code + kStartAt) != base) return Fails("CODE BLOCK START FIELD INCORRECT");
  if (Big32(code + kEndAt) != base + size - 1) return Fails("CODE BLOCK END FIELD INCORRECT");
  if (code[kXVersionAt] != 1) return Fails("UNKNOWN CODE HEADER X VERSION");
  if (code[kYVersionAt] != 2) return Fails("UNKNOWN CODE HEADER Y VERSION");
  const ProfileBlock place = FindProfile(code, size);
  if (place.place == ProfilePlace::kBelowBase) return Fails("STORE START FIELD INCORRECT");
  if (place.place == ProfilePlace::kPastEnd) return Fails("STORE SIZE FIELD INCORRECT");

  const uint8_t* profile = code + place.offset;
  const size_t store_size = place.length;
  if (store_size % 4) return Fails("PROFILE SIZE NOT A MULTIPLE OF 4");
  if (!BlockVerifies(profile, store_size)) return Fails("PROFILE CRC CHECK FAILED");
  if (Big16(profile + kMagicAt) != 0xC0DE) return Fails("BAD BLOCK MAGIC");
  // Likewise a store area shorter than the profile header.
  if (Big16(profile + kTypeAt) != 3 || store_size < kProfileHeaderSize) return Fails("NOT A PROFILE BLOCK");
  if (!NamesK27(profile)) return Fails("NOT K27 PROFILE");
  if (Big32(profile + kStartAt) != 0) return Fails("PROFILE BLOCK START FIELD INCORRECT");
  if (Big32(profile + kEndAt) != store_size - 1) return Fails("PROFILE BLOCK END FIELD INCORRECT");
  if (profile[kXVersionAt] != 1) return Fails("UNKNOWN PROFILE HEADER X VERSION");
  if (profile[kYVersionAt] != 0) return Fails("UNKNOWN PROFILE HEADER Y VERSION");
  if (Big16(profile + kProfileBranchAt) != Big16(code + kCodeBranchAt)) return Fails("PROFILE/CODE BRANCH MISMATCH");
  if (Big16(profile + kProfileVersionAt) != Big16(code + kCodeVersionAt)) return Fails("PROFILE/CODE VERSION MISMATCH");
  if (Big16(profile + kProfileRevisionAt) != Big16(code + kCodeRevisionAt))
    return Fails("PROFILE/CODE REVISION MISMATCH");
  if (Big16(profile + kFromRevisionAt) > Big16(code + kCodeRevisionAt)) return Fails("BAD PROFILE FROM REVISION");

  ImageExpectation e;
  e.profile_offset = static_cast<uint32_t>(place.offset);
  e.profile_length = static_cast<uint32_t>(store_size);
  char line[96];
  snprintf(line, sizeof line, "Ready to program K27 firmware release %u.%u.%u(%u)\n", Big16(code + kCodeBranchAt),
           Big16(code + kCodeVersionAt), Big16(code + kCodeRevisionAt), Big16(profile + kProfileNumberAt));
  e.release_line = line;
  return e;
}
