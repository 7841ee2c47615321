#ifndef K27_MODEL_ZLIB_STREAMS_H_
#define K27_MODEL_ZLIB_STREAMS_H_

// zlib streams whose length and inflated length are known to the byte, made
// by hand (no compressor decides them), for the image's size checks.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace model {

// A zlib stream that stores the bytes uncompressed: it inflates to less than
// it holds.
std::vector<uint8_t> StoredStream(const std::vector<uint8_t>& data);

// `stored` as one stored block, then a final fixed-code block of copies of
// the last byte, one copy (distance 1) per entry of `runs`, each 3 to 10
// bytes long. With two runs the stream is stored.size() + 16 bytes long.
// `inflated`, when given, gets what it inflates to.
std::vector<uint8_t> StoredThenRuns(const std::vector<uint8_t>& stored, const std::vector<unsigned>& runs,
                                    std::vector<uint8_t>* inflated = nullptr);

// A stream of exactly `resource_size` bytes (at least 22) that inflates to
// exactly `inflated_size` bytes: the first bytes of `filler` stored, then
// copies of the last of them. False when the two sizes cannot be made so.
bool ExactStream(const std::vector<uint8_t>& filler, size_t resource_size, size_t inflated_size,
                 std::vector<uint8_t>& stream);

}  // namespace model

#endif  // K27_MODEL_ZLIB_STREAMS_H_
