#ifndef K27_FUZZ_IMAGE_MUTATOR_H_
#define K27_FUZZ_IMAGE_MUTATOR_H_

#include <cstddef>
#include <cstdint>

// Mutates a compressed image where it matters: mostly it inflates the
// stream, changes header fields, the store area's place and size or the
// block's length, mends the checksums (usually) and compresses the block
// again, so that the later checks are reached; now and then it changes the
// compressed bytes themselves, for the decompressor's own checks.
size_t MutateCompressedImage(uint8_t* data, size_t size, size_t max_size, unsigned seed);

#endif  // K27_FUZZ_IMAGE_MUTATOR_H_
