#ifndef K27_IMAGE_INFLATE_H_
#define K27_IMAGE_INFLATE_H_

#include <cstdint>
#include <memory>

// The inflated firmware image: a writable buffer of exactly its size, owned
// by the driver until the process ends.
struct CodeBlock {
  std::unique_ptr<uint8_t[]> bytes;
  uint32_t size = 0;
};

// Inflates the compressed image (one zlib stream) into a new code block.
// Ends the run with "CODE DECOMPRESSION FAILED" when bytes follow the end of
// the stream, and with "CODE DECOMPRESSION DIDN'T!!!" when the stream
// inflates to no more bytes than the resource holds. A stream the
// decompressor rejects raises its CryptoPP::Exception, and a block that
// cannot be had std::bad_alloc; the driver turns both into the run's end.
CodeBlock InflateImage(const uint8_t* resource, uint32_t resource_size);

#endif  // K27_IMAGE_INFLATE_H_
