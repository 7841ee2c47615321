#ifndef K27_KIT_CARRIED_IMAGE_H_
#define K27_KIT_CARRIED_IMAGE_H_

// The image a program carries, read from the program file as the tool finds
// its own (resource IMAGE 1001), inflated and checked as the tool does it,
// with the values a scenario may name:
//   release            "1.1.5(1)", as the release line shows it
//   code_size          the code block's length
//   profile_size       the store area's (the profile block's) length
//   store_start        its device address
//   code_branch, code_version, code_revision, profile_number
//   min_boot_branch, min_boot_version   the boot code the code needs

#include <cstdint>
#include <string>
#include <vector>

#include "verdict.h"

// False, with the reason, when the file is no program, carries no image, or
// carries one the tool itself would refuse (then nothing can be qualified).
bool ReadCarriedImage(const std::vector<uint8_t>& program, CarriedImage& image, std::string& error);

#endif  // K27_KIT_CARRIED_IMAGE_H_
