#include "k27image/pack.h"

#include <cryptopp/zlib.h>

std::vector<uint8_t> PackCodeBlock(const std::vector<uint8_t>& code) {
  CryptoPP::ZlibCompressor compressor(nullptr, CryptoPP::Deflator::DEFAULT_DEFLATE_LEVEL,
                                      CryptoPP::Deflator::MAX_LOG2_WINDOW_SIZE);
  compressor.PutMessageEnd(code.data(), code.size());
  std::vector<uint8_t> stream(compressor.MaxRetrievable());
  compressor.Get(stream.data(), stream.size());
  return stream;
}

const char* PackedSizeProblem(size_t resource_size, size_t code_size) {
  if (resource_size < 1024) return "the compressed image is shorter than 1024 bytes";
  if (resource_size >= code_size) return "the compressed image is not shorter than the code block";
  return nullptr;
}
