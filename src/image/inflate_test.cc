#include "image/inflate.h"

#include <gtest/gtest.h>

#include <cryptopp/cryptlib.h>
#include <cryptopp/zlib.h>

#include <cstring>
#include <functional>
#include <vector>

#include "model/zlib_streams.h"
#include "support/run_to_exit.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Pattern(size_t n) {
  Bytes b(n);
  uint32_t x = 12345;
  for (auto& v : b) v = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 24);
  return b;
}

Bytes Compress(const Bytes& data) {
  CryptoPP::ZlibCompressor compressor;
  compressor.PutMessageEnd(data.data(), data.size());
  Bytes out(compressor.MaxRetrievable());
  compressor.Get(out.data(), out.size());
  return out;
}

Outcome Inflate(const Bytes& stream, Bytes* block = nullptr) {
  return RunToExit([&] {
    CodeBlock code = InflateImage(stream.data(), static_cast<uint32_t>(stream.size()));
    if (block) block->assign(code.bytes.get(), code.bytes.get() + code.size);
  });
}

TEST(InflateImageTest, MustExpandBeyondTheResourceSize) {
  const Bytes stored = Pattern(1008);
  struct Row {
    std::vector<unsigned> runs;
    size_t inflated;
    bool passes;
  } rows[] = {
      {{8, 7}, 1023, false},  // fewer bytes than the 1024-byte stream
      {{8, 8}, 1024, false},  // exactly as many
      {{8, 9}, 1025, true},   // one more
      {{10, 10}, 1028, true},
  };
  for (const Row& row : rows) {
    Bytes expected;
    const Bytes stream = model::StoredThenRuns(stored, row.runs, &expected);
    ASSERT_EQ(stream.size(), 1024u);
    ASSERT_EQ(expected.size(), row.inflated);
    Bytes block;
    const Outcome outcome = Inflate(stream, &block);
    if (row.passes) {
      EXPECT_FALSE(outcome.ended) << row.inflated;
      EXPECT_EQ(block, expected) << row.inflated;
      EXPECT_EQ(outcome.text, "");
    } else {
      EXPECT_TRUE(outcome.ended) << row.inflated;
      EXPECT_EQ(outcome.status, 1);
      EXPECT_EQ(outcome.text, "CODE DECOMPRESSION DIDN'T!!!\nPress space to exit\n");
    }
  }
}

TEST(InflateImageTest, StoredOrEmptyDataNeverExpands) {
  for (const Bytes& data : {Bytes{}, Pattern(2000)}) {
    CryptoPP::ZlibCompressor stored(nullptr, 0);  // level 0: stored blocks only
    stored.PutMessageEnd(data.data(), data.size());
    Bytes stream(stored.MaxRetrievable());
    stored.Get(stream.data(), stream.size());
    const Outcome outcome = Inflate(stream);
    EXPECT_TRUE(outcome.ended) << data.size();
    EXPECT_EQ(outcome.message, "CODE DECOMPRESSION DIDN'T!!!");
  }
}

// A zlib header with its check bits made right for the given bytes.
void SetHeader(Bytes& s, uint8_t cmf, uint8_t flags) {
  s[0] = cmf;
  s[1] = static_cast<uint8_t>(flags & 0xE0);
  s[1] = static_cast<uint8_t>(s[1] + (31 - (cmf * 256 + s[1]) % 31) % 31);
}

TEST(InflateImageTest, DamagedStreamsRaiseTheDecompressorsError) {
  Bytes data = Pattern(6000);
  std::memset(data.data() + 2000, 0, 3000);  // something to compress
  const Bytes good = Compress(data);
  ASSERT_FALSE(Inflate(good).ended);
  const struct {
    const char* name;
    std::function<void(Bytes&)> damage;
  } rows[] = {
      {"header check bits", [](Bytes& s) { s[1] ^= 1; }},
      {"method 7", [](Bytes& s) { SetHeader(s, 0x77, s[1]); }},
      {"preset dictionary", [](Bytes& s) { SetHeader(s, s[0], s[1] | 0x20); }},
      {"byte flipped mid-stream", [](Bytes& s) { s[s.size() / 2] ^= 0x10; }},
      {"Adler-32 damaged", [](Bytes& s) { s.back() ^= 1; }},
      {"Adler-32 missing", [](Bytes& s) { s.resize(s.size() - 4); }},
      {"cut off mid-block", [](Bytes& s) { s.resize(s.size() / 2); }},
      {"empty", [](Bytes& s) { s.clear(); }},
      {"only the header", [](Bytes& s) { s.resize(2); }},
  };
  for (const auto& row : rows) {
    Bytes stream = good;
    row.damage(stream);
    // Not through FatalExit: the error must escape to the driver.
    EXPECT_THROW(Inflate(stream), CryptoPP::Exception) << row.name;
  }
}

TEST(InflateImageTest, BytesAfterTheStreamAreRefused) {
  Bytes data = Pattern(3000);
  data.resize(9000, 0xFF);
  const Bytes good = Compress(data);
  const Bytes tiny = model::StoredThenRuns(Pattern(4), {3, 3}, nullptr);
  const struct {
    const char* name;
    Bytes tail;
  } rows[] = {
      {"one zero byte", {0}},
      {"padding", Bytes(16, 0)},
      {"a second stream", good},
      {"a second stream that expands less", tiny},
  };
  for (const auto& row : rows) {
    Bytes stream = good;
    stream.insert(stream.end(), row.tail.begin(), row.tail.end());
    const Outcome outcome = Inflate(stream);
    EXPECT_TRUE(outcome.ended) << row.name;
    EXPECT_EQ(outcome.status, 1) << row.name;
    EXPECT_EQ(outcome.text, "CODE DECOMPRESSION FAILED\nPress space to exit\n") << row.name;
  }
  // The refusal comes before the size check: a stream that does not expand
  // but has bytes after it is refused for those bytes.
  Bytes stored_only = model::StoredThenRuns(Pattern(100), {3, 3}, nullptr);
  stored_only.push_back(0);
  EXPECT_EQ(Inflate(stored_only).message, "CODE DECOMPRESSION FAILED");
}

}  // namespace
