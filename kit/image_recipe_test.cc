#include "image_recipe.h"

#include <cryptopp/cryptlib.h>
#include <cryptopp/zlib.h>
#include <gtest/gtest.h>

#include "image/checksum.h"
#include "model/block_layout.h"

namespace {

// A code block whose header places a 64-byte profile block at offset 128.
std::vector<uint8_t> Code() {
  std::vector<uint8_t> code(512);
  for (size_t i = 0; i < code.size(); ++i) code[i] = static_cast<uint8_t>(i * 13 + 1);
  model::PutBig(&code[model::kStoreStartAt], 4, model::kCodeBase + 128);
  model::PutBig(&code[model::kStoreSizeAt], 4, 64);
  return code;
}

TemplateValues RecipeValues() { return {{"code_revision", {true, 5, {}}}, {"code_size", {true, 512, {}}}}; }

std::vector<uint8_t> Inflate(const std::vector<uint8_t>& stream) {
  CryptoPP::ZlibDecompressor inflater(nullptr, false);
  inflater.PutMessageEnd(stream.data(), stream.size());
  std::vector<uint8_t> out(inflater.MaxRetrievable());
  inflater.Get(out.data(), out.size());
  return out;
}

std::vector<uint8_t> Make(const nlohmann::json& recipe) {
  std::optional<std::vector<uint8_t>> resource;
  std::string error;
  EXPECT_TRUE(MakeImageResource(recipe, Code(), RecipeValues(), resource, error)) << error;
  return resource.value_or(std::vector<uint8_t>{});
}

std::vector<uint8_t> Edited(const nlohmann::json& edits) {
  return Inflate(Make({{"code", edits}}));
}

TEST(ImageRecipeTest, CodeEditsWriteBigEndianWhereTheyAreTold) {
  std::vector<uint8_t> code = Edited({{{"at", 2}, {"u16", 0x1234}}, {{"at", 8}, {"u32", 0x0A0B0C0D}},
                                      {{"at", 50}, {"u8", 2}}, {{"at", 200}, {"xor", 0x40}},
                                      {{"at", 16}, {"text", "K28"}}});
  const std::vector<uint8_t> original = Code();
  EXPECT_EQ(code.size(), original.size());
  EXPECT_EQ(std::vector<uint8_t>(code.begin() + 2, code.begin() + 4), (std::vector<uint8_t>{0x12, 0x34}));
  EXPECT_EQ(std::vector<uint8_t>(code.begin() + 8, code.begin() + 12), (std::vector<uint8_t>{10, 11, 12, 13}));
  EXPECT_EQ(code[50], 2);
  EXPECT_EQ(code[200], original[200] ^ 0x40);
  EXPECT_EQ(std::string(code.begin() + 16, code.begin() + 19), "K28");
  EXPECT_EQ(code[19], original[19]);  // no terminator written
  for (size_t i : {0u, 1u, 4u, 7u, 12u, 199u, 201u, 511u}) EXPECT_EQ(code[i], original[i]) << i;

  // In the profile block: counted from where the code header places it, a
  // placeholder for the value.
  code = Edited({{{"in", "profile"}, {"at", 58}, {"u16", "{code_revision+1}"}}});
  EXPECT_EQ(code[128 + 58], 0);
  EXPECT_EQ(code[128 + 59], 6);
  code = Edited({{{"at", -1}, {"xor", 1}}});
  EXPECT_EQ(code[511], original[511] ^ 1);
}

TEST(ImageRecipeTest, SealsVerifyAsTheToolChecksThem) {
  BuildChecksumTable();
  std::vector<uint8_t> code = Edited({{{"at", 0}, {"u16", 0xC0DF}}, {{"seal", "profile"}}, {{"seal", "code"}}});
  EXPECT_TRUE(VerifyBlockChecksum(code.data(), static_cast<uint32_t>(code.size())));
  EXPECT_TRUE(VerifyBlockChecksum(code.data() + 128, 64));
  code = Edited({{{"at", 0}, {"u16", 0xC0DF}}});
  EXPECT_FALSE(VerifyBlockChecksum(code.data(), static_cast<uint32_t>(code.size())));
}

TEST(ImageRecipeTest, SizesChangeAsTold) {
  EXPECT_EQ(Edited({{{"append", "00 FF 10"}}}).size(), 515u);
  EXPECT_EQ(Edited({{{"append", "00 FF 10"}}})[514], 0x10);
  EXPECT_EQ(Edited({{{"cut", 4}}}).size(), 508u);
}

TEST(ImageRecipeTest, ResourceEdits) {
  const std::vector<uint8_t> packed = Make(nlohmann::json::object());
  EXPECT_EQ(Inflate(packed), Code());
  std::vector<uint8_t> r = Make({{"resource", {{{"at", "middle"}, {"xor", 16}}}}});
  EXPECT_EQ(r[packed.size() / 2], packed[packed.size() / 2] ^ 16);
  r = Make({{"resource", {{{"cut_to", 10}}}}});
  EXPECT_EQ(r, std::vector<uint8_t>(packed.begin(), packed.begin() + 10));
  r = Make({{"resource", {{{"cut_to", "half"}}}}});
  EXPECT_EQ(r.size(), packed.size() / 2);
  r = Make({{"resource", {{{"append", "00"}}}}});
  EXPECT_EQ(r.size(), packed.size() + 1);
  EXPECT_EQ(r.back(), 0);
  r = Make({{"resource", {{{"append_copy", true}}}}});
  EXPECT_EQ(r.size(), 2 * packed.size());
  std::optional<std::vector<uint8_t>> none = std::vector<uint8_t>{1};
  std::string error;
  ASSERT_TRUE(MakeImageResource({{"remove", true}}, Code(), RecipeValues(), none, error));
  EXPECT_FALSE(none.has_value());
}

TEST(ImageRecipeTest, RecipesThatCannotBeMadeAreRefused) {
  struct Row {
    nlohmann::json recipe;
    const char* error;
  };
  const Row rows[] = {
      {{{"remove", true}, {"pack", "zlib"}}, "{\"remove\": true} stands alone"},
      {{{"cook", 1}}, "\"image\": \"cook\": unknown setting"},
      {{{"code", {{{"at", 511}, {"u16", 1}}}}}, "code edit 1: the edit at 511 does not fit inside the block"},
      {{{"code", {{{"at", 0}, {"u8", 256}}}}}, "code edit 1: the value of \"u8\" does not fit its width"},
      {{{"code", {{{"at", 0}, {"u16", 1}, {"u8", 1}}}}}, "code edit 1: a code edit has \"at\" and one of u8, u16, "
                                                          "u32, xor, text"},
      {{{"code", {{{"at", 600}, {"xor", 1}}}}}, "code edit 1: offset 600 is outside the 512 bytes"},
      {{{"code", {{{"seal", "everything"}}}}}, "code edit 1: {\"seal\": \"code\"} or {\"seal\": \"profile\"}, alone"},
      {{{"code", {{{"at", 0}, {"u16", "{nothing}"}}}}}, "no value is called \"nothing\""},
      {{{"code", {{{"append", "0"}}}}}, "code edit 1: \"0\" has an odd number of hex digits"},
      {{{"code", {{{"at", 84}, {"u32", 0}}, {{"in", "profile"}, {"at", 0}, {"u8", 0}}}}},
       "code edit 2: the code header places no profile block inside the code block"},
      {{{"pack", "gzip"}}, "\"pack\" is \"zlib\", \"stored\" or {\"resource_size\": R, \"inflated_size\": I}"},
      {{{"pack", {{"resource_size", 1024}, {"inflated_size", 9000}}}},
       "no stream of 1024 bytes inflates to 9000 here"},
      {{{"resource", {{{"cut_to", 1 << 20}}}}},
       "resource edit 1: \"cut_to\" is a length no longer than the stream, or \"half\""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.recipe.dump());
    std::optional<std::vector<uint8_t>> resource;
    std::string error;
    EXPECT_FALSE(MakeImageResource(row.recipe, Code(), RecipeValues(), resource, error));
    EXPECT_EQ(error, row.error);
  }
}

}  // namespace
