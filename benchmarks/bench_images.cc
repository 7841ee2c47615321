#include "bench_images.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "image/byte_order.h"
#include "image/checksum.h"
#include "image/validate_image.h"

namespace {

[[noreturn]] void Die(const char* what) {
  fprintf(stderr, "k27_bench: %s\n", what);
  exit(2);
}

std::vector<uint8_t> Compress(const std::vector<uint8_t>& block) {
  uLongf length = compressBound(block.size());
  std::vector<uint8_t> out(length);
  if (compress2(out.data(), &length, block.data(), block.size(), Z_BEST_COMPRESSION) != Z_OK)
    Die("compression failed");
  out.resize(length);
  return out;
}

// The shipped block grown to `size` bytes by repeating its body after the
// store area; the profile block stays where it was.
std::vector<uint8_t> Grow(const std::vector<uint8_t>& shipped, size_t size) {
  const size_t body = kCodeHeaderSize;
  std::vector<uint8_t> block(shipped.begin(), shipped.end() - 4);
  while (block.size() < size - 4) {
    size_t take = std::min(shipped.size() - 4 - body, size - 4 - block.size());
    block.insert(block.end(), shipped.begin() + body, shipped.begin() + body + take);
  }
  block.resize(size);
  WriteBig32(&block[kHeaderEndAddress], static_cast<uint32_t>(kCodeBlockBaseAddress + size - 1));
  RegenerateBlockChecksum(block.data(), block.size());
  return block;
}

std::vector<BenchImage> Build() {
  BuildChecksumTable();
  std::ifstream file(K27_SHIPPED_RESOURCE, std::ios::binary);
  if (!file) Die("cannot read " K27_SHIPPED_RESOURCE);
  BenchImage shipped{"shipped", {std::istreambuf_iterator<char>(file), {}}, {}};
  uLongf length = 64u << 20;
  shipped.code.resize(length);
  if (uncompress(shipped.code.data(), &length, shipped.compressed.data(), shipped.compressed.size()) != Z_OK)
    Die("the shipped image does not inflate");
  shipped.code.resize(length);
  if (CheckImage(shipped.code.data(), static_cast<uint32_t>(length)).check != 0)
    Die("the shipped image fails its checks");

  std::vector<BenchImage> images{shipped};
  for (auto [name, size] : {std::pair{"1MB", size_t{1} << 20}, std::pair{"16MB", size_t{16} << 20}}) {
    BenchImage grown{name, {}, Grow(shipped.code, size)};
    grown.compressed = Compress(grown.code);
    if (CheckImage(grown.code.data(), static_cast<uint32_t>(size)).check != 0)
      Die("a grown image fails its checks");
    images.push_back(std::move(grown));
  }
  return images;
}

}  // namespace

const std::vector<BenchImage>& BenchImages() {
  static const std::vector<BenchImage> images = Build();
  return images;
}
