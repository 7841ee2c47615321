// The model's own facts, checked against what others publish: the checksums'
// check values, zlib's inflater (Crypto++'s) for the streams.

#include <cryptopp/zlib.h>
#include <gtest/gtest.h>

#include "model/block_crc.h"
#include "model/block_layout.h"
#include "model/journal.h"
#include "model/utf8.h"
#include "model/zlib_streams.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Inflated(const Bytes& stream) {
  CryptoPP::ZlibDecompressor inflater(nullptr, false);
  inflater.PutMessageEnd(stream.data(), stream.size());
  Bytes out(inflater.MaxRetrievable());
  inflater.Get(out.data(), out.size());
  return out;
}

const uint8_t* Ascii(const char* text) { return reinterpret_cast<const uint8_t*>(text); }

TEST(ModelTest, ChecksumsGiveTheirCheckValues) {
  EXPECT_EQ(model::BlockCrc(Ascii("123456789"), 9), model::kCrcCheckValue);
  EXPECT_EQ(model::kCrcCheckValue, 0xFC891918u);  // CRC-32/BZIP2's published check value
  EXPECT_EQ(model::Adler32(Ascii("Wikipedia"), 9), 0x11E60398u);
  Bytes block = {1, 2, 3, 4, 5, 6, 7, 8};
  model::SealBlock(block.data(), block.size());
  EXPECT_EQ(model::GetBig(block.data() + 4, 4), model::BlockCrc(block.data(), 4));
  EXPECT_TRUE(model::BlockVerifies(block.data(), block.size()));
  block[0] ^= 1;
  EXPECT_FALSE(model::BlockVerifies(block.data(), block.size()));
  EXPECT_FALSE(model::BlockVerifies(block.data(), 3));
}

TEST(ModelTest, TheCodeHeaderPlacesTheProfileBlock) {
  using model::ProfilePlace;
  const struct {
    uint32_t start, length;
    size_t size;
    ProfilePlace place;
    size_t offset;
  } rows[] = {
      {0x80080, 64, 512, ProfilePlace::kInside, 128},
      {0x80080, 384, 512, ProfilePlace::kInside, 128},   // ends at the block's end
      {0x80080, 385, 512, ProfilePlace::kPastEnd, 128},
      {0x80200, 0, 512, ProfilePlace::kInside, 512},     // empty, at the end
      {0x80201, 0, 512, ProfilePlace::kPastEnd, 513},
      {0x80080, 0xFFFFFFFF, 512, ProfilePlace::kPastEnd, 128},
      {0x7FFFF, 4, 512, ProfilePlace::kBelowBase, 0},
      {0x80080, 64, 91, ProfilePlace::kNoHeader, 0},
  };
  for (const auto& row : rows) {
    Bytes code(512);
    model::PutBig(code.data() + model::kStoreStartAt, 4, row.start);
    model::PutBig(code.data() + model::kStoreSizeAt, 4, row.length);
    const model::ProfileBlock found = model::FindProfile(code.data(), row.size);
    EXPECT_EQ(found.place, row.place) << row.start << " " << row.length << " " << row.size;
    EXPECT_EQ(found.offset, row.offset) << row.start << " " << row.length << " " << row.size;
  }
}

TEST(ModelTest, StreamsOfExactSizes) {
  Bytes filler(2000);
  for (size_t i = 0; i < filler.size(); ++i) filler[i] = static_cast<uint8_t>(i * 13 + 1);
  const std::pair<size_t, size_t> sizes[] = {{1024, 1023}, {1024, 1024}, {1024, 1025}, {1023, 1030},
                                             {1024, 1028}, {300, 290},   {300, 320}};
  for (const auto& [resource, inflated] : sizes) {
    Bytes stream;
    ASSERT_TRUE(model::ExactStream(filler, resource, inflated, stream)) << resource << " -> " << inflated;
    EXPECT_EQ(stream.size(), resource);
    EXPECT_EQ(Inflated(stream).size(), inflated) << resource << " -> " << inflated;
  }
  Bytes stream;
  EXPECT_FALSE(model::ExactStream(Bytes(512), 1024, 5000, stream));  // no room for that many copies
  EXPECT_FALSE(model::ExactStream(filler, 10, 10, stream));
  Bytes inflated;
  stream = model::StoredThenRuns(Bytes(filler.begin(), filler.begin() + 1008), {8, 9}, &inflated);
  EXPECT_EQ(stream.size(), 1024u);
  EXPECT_EQ(Inflated(stream), inflated);
  EXPECT_EQ(inflated.size(), 1025u);
  // A stored stream of more than one block inflates to less than it holds.
  Bytes big(150000);
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i ^ (i >> 8));
  stream = model::StoredStream(big);
  EXPECT_GT(stream.size(), big.size());
  EXPECT_EQ(Inflated(stream), big);
}

TEST(ModelTest, JournalLinesAsFarAsWritten) {
  const std::vector<nlohmann::json> lines = model::ParseJournal("{\"op\": \"Start\"}\nnot json\n{\"op\": \"Pro");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0]["op"], "Start");
  EXPECT_EQ(lines[1]["op"], "(unreadable journal line)");
  EXPECT_TRUE(model::ParseJournal("").empty());
}

TEST(ModelTest, Utf8OfUtf16) {
  // The Unicode standard's own examples, and what stands for a stray surrogate.
  const struct {
    std::u16string units;
    const char* utf8;
  } rows[] = {
      {u"A\u00E9\u20AC", "A\xC3\xA9\xE2\x82\xAC"},
      {{0xD800, 0xDF48}, "\xF0\x90\x8D\x88"},                      // U+10348
      {{0xDBFF, 0xDFFF}, "\xF4\x8F\xBF\xBF"},                      // U+10FFFF
      {{0xD800, u'x'}, "\xEF\xBF\xBDx"},                           // a lead without its trail
      {{0xDC00, 0xD800}, "\xEF\xBF\xBD\xEF\xBF\xBD"},              // a trail, then a lead at the end
      {u"\u07FF\u0800\uFFFF", "\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF"},  // each length's bounds
  };
  for (const auto& row : rows) EXPECT_EQ(model::Utf8FromUtf16(row.units), row.utf8);
}

}  // namespace
