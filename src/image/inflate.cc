#include "image/inflate.h"

#include <cryptopp/zlib.h>

#include <limits>
#include <new>

#include "run/fatal_exit.h"

CodeBlock InflateImage(const uint8_t* resource, uint32_t resource_size) {
  CodeBlock block;
  {
    // No attached output: the inflated bytes stay queued in the decompressor.
    CryptoPP::ZlibDecompressor inflater(nullptr, false);
    inflater.PutMessageEnd(resource, resource_size);
    // Input after the end of the stream is queued behind the inflated bytes,
    // uninflated. The resource must be exactly one stream: anything after it
    // means it is not what was packed.
    const CryptoPP::lword inflated = inflater.MaxRetrievable();
    if (inflater.TotalBytesRetrievable() != inflated) FatalExit(1, "CODE DECOMPRESSION FAILED");
    if (inflated <= CryptoPP::lword{resource_size}) FatalExit(1, "CODE DECOMPRESSION DIDN'T!!!");
    // The code size is a 32-bit count: a larger block cannot be held.
    if (inflated > std::numeric_limits<uint32_t>::max()) throw std::bad_alloc();
    block.size = static_cast<uint32_t>(inflated);
    block.bytes.reset(new uint8_t[block.size]);
    inflater.Get(block.bytes.get(), block.size);
  }
  return block;
}
