#ifndef K27_KIT_IMAGE_RECIPE_H_
#define K27_KIT_IMAGE_RECIPE_H_

// A scenario's damaged image, made from the code block the program under
// qualification carries, so that the program's own checks are what a
// scenario meets:
//
//   {"remove": true}                              no image resource at all
//   {"code": [EDIT...], "pack": PACK, "resource": [EDIT...]}
//
// Code edits, in order, on a copy of the code block ("in": "profile" counts
// "at" from the profile block's start, as the code header places it):
//   {"at": 2, "u16": 2}     big-endian write; also "u8", "u32"; a value may
//                           be a placeholder ("{code_revision+1}")
//   {"at": 200, "xor": 64}  flip bits of one byte
//   {"at": 16, "text": "K28"}   the text's bytes
//   {"seal": "code"}        its checksum made anew; also "profile"
//   {"append": "00 00"}     bytes added at the end
//   {"cut": 4}              bytes taken off the end
// PACK: "zlib" (default: as a release packs it), "stored" (one stream that
// does not compress), or {"resource_size": R, "inflated_size": I}: a stream
// of exactly R bytes that inflates to exactly I bytes (I - R from -10 to 4).
// Resource edits, on the packed stream:
//   {"at": "middle", "xor": 16}    "at" a byte offset, negative from the end
//   {"cut_to": 1023}              the first N bytes; "half" for half of them
//   {"append": "00"}              bytes after the stream
//   {"append_copy": true}         a second copy of the stream after it

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "template_text.h"

// The resource to embed, or nullopt for none. False, with the reason, when
// the recipe is wrong or does not fit the code block.
bool MakeImageResource(const nlohmann::json& recipe, const std::vector<uint8_t>& code, const TemplateValues& values,
                       std::optional<std::vector<uint8_t>>& resource, std::string& error);

#endif  // K27_KIT_IMAGE_RECIPE_H_
