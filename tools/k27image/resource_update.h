#ifndef K27_K27IMAGE_RESOURCE_UPDATE_H_
#define K27_K27IMAGE_RESOURCE_UPDATE_H_

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// Writes `out`, a copy of the program `exe` whose image resource (type
// "IMAGE", id 1001) is `resource`, language neutral, or is gone when
// `resource` is null. Entries of that id in any other language go too, so
// that the copy carries exactly the given image. False, with the reason in
// `error`, when it cannot; no `out` is left behind then.
bool WriteWithImageResource(const std::filesystem::path& exe, const std::vector<uint8_t>* resource,
                            const std::filesystem::path& out, std::string& error);

#endif  // K27_K27IMAGE_RESOURCE_UPDATE_H_
