#ifndef K27_IMAGE_VALIDATE_IMAGE_H_
#define K27_IMAGE_VALIDATE_IMAGE_H_

#include <cstdint>

// The code block and the profile block inside it: big-endian headers of one
// family (magic 0xC0DE), each block ending in its checksum word. Fields are
// read in place, never copied into a structure.

// The device address of the code block's first byte.
constexpr uint32_t kCodeBlockBaseAddress = 0x80000;
constexpr uint16_t kBlockMagic = 0xC0DE;
constexpr uint16_t kCodeBlockType = 1;
constexpr uint16_t kProfileBlockType = 3;
constexpr uint32_t kCodeHeaderSize = 92;
constexpr uint32_t kProfileHeaderSize = 64;

// Offsets shared by both headers.
constexpr uint32_t kHeaderMagic = 0;         // 16-bit
constexpr uint32_t kHeaderBlockType = 2;     // 16-bit
constexpr uint32_t kHeaderStartAddress = 4;  // 32-bit
constexpr uint32_t kHeaderEndAddress = 8;    // 32-bit, inclusive
constexpr uint32_t kHeaderTargetName = 16;   // 32 bytes, NUL-terminated
constexpr uint32_t kHeaderLength = 48;       // 16-bit, never read by the tool
constexpr uint32_t kHeaderXVersion = 50;     // 8-bit
constexpr uint32_t kHeaderYVersion = 51;     // 8-bit

// Code header, from offset 52 (the time stamp at 52 and the minimum boot
// code at 80 and 82 belong to programming).
constexpr uint32_t kCodeBranch = 74;              // 16-bit
constexpr uint32_t kCodeVersion = 76;             // 16-bit
constexpr uint32_t kCodeRevision = 78;            // 16-bit
constexpr uint32_t kCodeStoreStart = 84;          // 32-bit device address
constexpr uint32_t kCodeStoreSize = 88;           // 32-bit

// Profile header, from offset 52.
constexpr uint32_t kProfileBranch = 52;        // 16-bit
constexpr uint32_t kProfileVersion = 54;       // 16-bit
constexpr uint32_t kProfileRevision = 56;      // 16-bit
constexpr uint32_t kProfileFromRevision = 58;  // 16-bit
constexpr uint32_t kProfileNumber = 60;        // 16-bit

constexpr uint8_t kCodeXVersion = 1;
constexpr uint8_t kCodeYVersion = 2;
constexpr uint8_t kProfileXVersion = 1;
constexpr uint8_t kProfileYVersion = 0;

// Code branch, version, revision, then the profile number.
constexpr const char* kReleaseLineFormat = "Ready to program K27 firmware release %d.%d.%d(%d)\n";

// The profile block: where it starts inside the code block, and its length.
struct ProfileView {
  uint32_t offset = 0;
  uint32_t length = 0;
};

// What the checks found: the first check that failed (1 to 24, in the order
// they run) with its message and exit status, or check 0 and the profile
// block when every check passed.
struct ImageVerdict {
  int check = 0;
  const char* message = nullptr;
  int status = 0;
  ProfileView profile;
};

// Runs the 24 checks over a code block in their fixed order and stops at the
// first that fails. Reads nothing outside the block, writes nothing. The
// checksum table must have been built.
ImageVerdict CheckImage(const uint8_t* code, uint32_t size);

// The stage: ends the run with the first failed check's message and status,
// otherwise prints the release line and returns the profile block.
ProfileView ValidateImage(const uint8_t* code, uint32_t size);

#endif  // K27_IMAGE_VALIDATE_IMAGE_H_
