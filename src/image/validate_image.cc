#include "image/validate_image.h"

#include "image/byte_order.h"
#include "image/checksum.h"
#include "run/console.h"
#include "run/fatal_exit.h"

namespace {

ImageVerdict Fail(int check, const char* message, int status = 1) {
  ImageVerdict verdict;
  verdict.check = check;
  verdict.message = message;
  verdict.status = status;
  return verdict;
}

// The name is compared as a NUL-terminated, case-sensitive string: "K27" and
// its terminator; what follows the terminator is not looked at.
bool IsK27Target(const uint8_t* header) {
  const uint8_t* name = header + kHeaderTargetName;
  return name[0] == 'K' && name[1] == '2' && name[2] == '7' && name[3] == 0;
}

}  // namespace

ImageVerdict CheckImage(const uint8_t* code, uint32_t size) {
  if (size % 4 != 0) return Fail(1, "CODE BLOCK SIZE NOT A MULTIPLE OF 4");
  // The checksum comes before any header field; once it verifies the block
  // holds at least one word, so the magic and block type lie inside it.
  if (!VerifyBlockChecksum(code, size)) return Fail(2, "CODE BLOCK CRC CHECK FAILED");
  if (ReadBig16(code + kHeaderMagic) != kBlockMagic) return Fail(3, "BAD CODE BLOCK MAGIC");
  // The tool's own image always holds the whole header; a block too short
  // for it is no code block, and none of its fields past the type are read.
  if (ReadBig16(code + kHeaderBlockType) != kCodeBlockType || size < kCodeHeaderSize)
    return Fail(4, "NOT A CODE BLOCK");
  if (!IsK27Target(code)) return Fail(5, "NOT K27 CODE");
  if (ReadBig32(code + kHeaderStartAddress) != kCodeBlockBaseAddress)
    return Fail(6, "CODE BLOCK START FIELD INCORRECT");
  // In 64 bits: a block reaching past the 32-bit address space has no end
  // field that could be right.
  if (uint64_t{ReadBig32(code + kHeaderEndAddress)} != uint64_t{kCodeBlockBaseAddress} + size - 1)
    return Fail(7, "CODE BLOCK END FIELD INCORRECT");
  if (code[kHeaderXVersion] != kCodeXVersion) return Fail(8, "UNKNOWN CODE HEADER X VERSION", 108);
  if (code[kHeaderYVersion] != kCodeYVersion) return Fail(9, "UNKNOWN CODE HEADER Y VERSION", 109);
  if (ReadBig32(code + kCodeStoreStart) < kCodeBlockBaseAddress) return Fail(10, "STORE START FIELD INCORRECT");
  // The store area must end inside the code block. Differences only, each
  // taken where it cannot go below zero, so no sum can wrap.
  const uint32_t store_offset = ReadBig32(code + kCodeStoreStart) - kCodeBlockBaseAddress;
  if (store_offset > size || ReadBig32(code + kCodeStoreSize) > size - store_offset)
    return Fail(11, "STORE SIZE FIELD INCORRECT");

  const uint32_t store_size = ReadBig32(code + kCodeStoreSize);
  const uint8_t* profile = code + store_offset;
  if (store_size % 4 != 0) return Fail(12, "PROFILE SIZE NOT A MULTIPLE OF 4");
  if (!VerifyBlockChecksum(profile, store_size)) return Fail(13, "PROFILE CRC CHECK FAILED");
  if (ReadBig16(profile + kHeaderMagic) != kBlockMagic) return Fail(14, "BAD BLOCK MAGIC");
  // A store area too short for the profile header is no profile block: no
  // header field is read outside the store area.
  if (ReadBig16(profile + kHeaderBlockType) != kProfileBlockType || store_size < kProfileHeaderSize)
    return Fail(15, "NOT A PROFILE BLOCK");
  if (!IsK27Target(profile)) return Fail(16, "NOT K27 PROFILE");
  if (ReadBig32(profile + kHeaderStartAddress) != 0) return Fail(17, "PROFILE BLOCK START FIELD INCORRECT");
  if (ReadBig32(profile + kHeaderEndAddress) != store_size - 1)
    return Fail(18, "PROFILE BLOCK END FIELD INCORRECT");
  if (profile[kHeaderXVersion] != kProfileXVersion) return Fail(19, "UNKNOWN PROFILE HEADER X VERSION");
  if (profile[kHeaderYVersion] != kProfileYVersion) return Fail(20, "UNKNOWN PROFILE HEADER Y VERSION");

  if (ReadBig16(profile + kProfileBranch) != ReadBig16(code + kCodeBranch))
    return Fail(21, "PROFILE/CODE BRANCH MISMATCH");
  if (ReadBig16(profile + kProfileVersion) != ReadBig16(code + kCodeVersion))
    return Fail(22, "PROFILE/CODE VERSION MISMATCH");
  if (ReadBig16(profile + kProfileRevision) != ReadBig16(code + kCodeRevision))
    return Fail(23, "PROFILE/CODE REVISION MISMATCH");
  if (ReadBig16(profile + kProfileFromRevision) > ReadBig16(code + kCodeRevision))
    return Fail(24, "BAD PROFILE FROM REVISION");

  ImageVerdict verdict;
  verdict.profile.offset = store_offset;
  verdict.profile.length = store_size;
  return verdict;
}

ProfileView ValidateImage(const uint8_t* code, uint32_t size) {
  ImageVerdict verdict = CheckImage(code, size);
  if (verdict.check != 0) FatalExit(verdict.status, verdict.message);
  const uint8_t* profile = code + verdict.profile.offset;
  PrintFormat(kReleaseLineFormat, ReadBig16(code + kCodeBranch), ReadBig16(code + kCodeVersion),
              ReadBig16(code + kCodeRevision), ReadBig16(profile + kProfileNumber));
  return verdict.profile;
}
