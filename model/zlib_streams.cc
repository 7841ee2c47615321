#include "model/zlib_streams.h"

#include <algorithm>

#include "model/block_crc.h"

namespace model {

namespace {

// Deflate's bit order: fields least significant bit first, Huffman codes
// most significant bit first.
class Bits {
 public:
  explicit Bits(std::vector<uint8_t>& out) : out_(out) {}
  void Field(uint32_t value, int n) {
    for (int i = 0; i < n; ++i) Bit((value >> i) & 1);
  }
  void Code(uint32_t value, int n) {
    for (int i = n - 1; i >= 0; --i) Bit((value >> i) & 1);
  }
  void Finish() {
    if (used_) out_.push_back(current_);
    current_ = 0;
    used_ = 0;
  }

 private:
  void Bit(uint32_t b) {
    current_ |= static_cast<uint8_t>(b << used_);
    if (++used_ == 8) Finish();
  }
  std::vector<uint8_t>& out_;
  uint8_t current_ = 0;
  int used_ = 0;
};

// A stored block's header: final or not, the length and its complement.
void StoredHeader(std::vector<uint8_t>& out, bool last, size_t n) {
  for (const size_t byte : {size_t{last}, n, n >> 8, ~n, ~n >> 8}) out.push_back(static_cast<uint8_t>(byte));
}

void PutAdler(std::vector<uint8_t>& out, const std::vector<uint8_t>& data) {
  const uint32_t adler = Adler32(data.data(), data.size());
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(adler >> shift));
}

}  // namespace

std::vector<uint8_t> StoredStream(const std::vector<uint8_t>& data) {
  std::vector<uint8_t> out = {0x78, 0x01};
  size_t at = 0;
  do {
    const size_t n = std::min<size_t>(data.size() - at, 65535);
    StoredHeader(out, at + n == data.size(), n);
    const auto from = data.begin() + static_cast<std::ptrdiff_t>(at);
    out.insert(out.end(), from, from + static_cast<std::ptrdiff_t>(n));
    at += n;
  } while (at < data.size());
  PutAdler(out, data);
  return out;
}

std::vector<uint8_t> StoredThenRuns(const std::vector<uint8_t>& stored, const std::vector<unsigned>& runs,
                                    std::vector<uint8_t>* inflated) {
  std::vector<uint8_t> out = {0x78, 0x01};
  StoredHeader(out, false, stored.size());
  out.insert(out.end(), stored.begin(), stored.end());
  std::vector<uint8_t> data = stored;
  Bits bits(out);
  bits.Field(1, 1);  // final
  bits.Field(1, 2);  // fixed codes
  for (const unsigned run : runs) {
    bits.Code(1 + run - 3, 7);  // length symbols 257.. have 7-bit codes 1..
    bits.Code(0, 5);            // distance 1
    data.insert(data.end(), run, data.back());
  }
  bits.Code(0, 7);  // end of block
  bits.Finish();
  PutAdler(out, data);
  if (inflated) *inflated = std::move(data);
  return out;
}

bool ExactStream(const std::vector<uint8_t>& filler, size_t resource_size, size_t inflated_size,
                 std::vector<uint8_t>& stream) {
  // Header (2), one stored block (5 + n), a final block with fixed codes
  // holding k copies of the last byte (3 + 12k + 7 bits), the Adler-32 (4).
  for (size_t k = 1; k <= 16; ++k) {
    const size_t fixed_bytes = (10 + 12 * k + 7) / 8;
    if (resource_size < 11 + fixed_bytes + 1) continue;
    const size_t n = resource_size - 11 - fixed_bytes;
    if (n > 65535 || n > filler.size() || inflated_size < n) continue;
    const size_t copied = inflated_size - n;
    if (copied < 3 * k || copied > 10 * k) continue;
    // Spread evenly: every run 3 to 10 bytes.
    std::vector<unsigned> runs;
    for (size_t i = 0, left = copied; i < k; ++i) {
      runs.push_back(static_cast<unsigned>(std::min<size_t>(10, left - 3 * (k - 1 - i))));
      left -= runs.back();
    }
    std::vector<uint8_t> data;
    stream = StoredThenRuns({filler.begin(), filler.begin() + static_cast<std::ptrdiff_t>(n)}, runs, &data);
    return stream.size() == resource_size && data.size() == inflated_size;
  }
  return false;
}

}  // namespace model
