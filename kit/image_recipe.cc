#include "image_recipe.h"

#include <set>

#include "bench/bench.h"
#include "k27image/pack.h"
#include "lib/reject.h"
#include "model/block_crc.h"
#include "model/block_layout.h"
#include "model/zlib_streams.h"

namespace {

// A whole number of at least 0, however the JSON holds it.
bool Count(const nlohmann::json& value, size_t& out) {
  if (!value.is_number_integer() || value.get<int64_t>() < 0) return false;
  out = static_cast<size_t>(value.get<int64_t>());
  return true;
}

bool Hex(const nlohmann::json& value, std::vector<uint8_t>& bytes, std::string& error) {
  if (!value.is_string()) return Reject(error, "bytes are written as hex text (\"00 FF\")");
  const std::string text = value.get<std::string>();
  switch (ParseHexBytes(text, bytes)) {
    case HexProblem::kNotHex:
      return Reject(error, "\"" + text + "\" is not hex");
    case HexProblem::kOddDigits:
      return Reject(error, "\"" + text + "\" has an odd number of hex digits");
    case HexProblem::kNone:
      break;
  }
  return true;
}

// The profile block as the code header places it: offset and length.
bool ProfilePlace(const std::vector<uint8_t>& code, size_t& offset, size_t& length, std::string& error) {
  const model::ProfileBlock profile = model::FindProfile(code.data(), code.size());
  offset = profile.offset;
  length = profile.length;
  if (profile.place == model::ProfilePlace::kInside) return true;
  return Reject(error, profile.place == model::ProfilePlace::kNoHeader
                           ? "the code block is too short for its header"
                           : "the code header places no profile block inside the code block");
}

bool Offset(const nlohmann::json& at, size_t size, size_t& offset, std::string& error) {
  if (at.is_string() && at.get<std::string>() == "middle") {
    offset = size / 2;
    return true;
  }
  if (!at.is_number_integer()) return Reject(error, "\"at\" is a byte offset (negative from the end) or \"middle\"");
  const int64_t n = at.get<int64_t>();
  const int64_t from = n < 0 ? static_cast<int64_t>(size) + n : n;
  if (from < 0 || static_cast<uint64_t>(from) >= size)
    return Reject(error, "offset " + std::to_string(n) + " is outside the " + std::to_string(size) + " bytes");
  offset = static_cast<size_t>(from);
  return true;
}

bool EditCode(const nlohmann::json& edit, std::vector<uint8_t>& code, std::string& error) {
  if (!edit.is_object() || edit.empty()) return Reject(error, "a code edit is an object");
  if (edit.contains("seal")) {
    const std::string which = edit["seal"].is_string() ? edit["seal"].get<std::string>() : "";
    if (edit.size() != 1 || (which != "code" && which != "profile"))
      return Reject(error, "{\"seal\": \"code\"} or {\"seal\": \"profile\"}, alone");
    if (which == "code") {
      if (code.size() < 4) return Reject(error, "the code block is too short to seal");
      model::SealBlock(code.data(), code.size());
      return true;
    }
    size_t offset, length;
    if (!ProfilePlace(code, offset, length, error)) return false;
    if (length < 4) return Reject(error, "the profile block is too short to seal");
    model::SealBlock(code.data() + offset, length);
    return true;
  }
  if (edit.contains("append")) {
    std::vector<uint8_t> bytes;
    if (edit.size() != 1 || !Hex(edit["append"], bytes, error)) {
      if (error.empty()) error = "{\"append\": HEX}, alone";
      return false;
    }
    code.insert(code.end(), bytes.begin(), bytes.end());
    return true;
  }
  if (edit.contains("cut")) {
    size_t n = 0;
    if (edit.size() != 1 || !Count(edit["cut"], n) || n > code.size())
      return Reject(error, "{\"cut\": N}, alone, N at most the block's length");
    code.resize(code.size() - n);
    return true;
  }
  static const std::set<std::string> keys = {"at", "in", "u8", "u16", "u32", "xor", "text"};
  int actions = 0;
  for (const auto& [key, value] : edit.items()) {
    if (!keys.count(key)) return Reject(error, "\"" + key + "\": unknown code edit");
    actions += key != "at" && key != "in";
  }
  if (actions != 1 || !edit.contains("at"))
    return Reject(error, "a code edit has \"at\" and one of u8, u16, u32, xor, text");
  size_t base = 0, length = code.size();
  if (edit.contains("in")) {
    const std::string in = edit["in"].is_string() ? edit["in"].get<std::string>() : "";
    if (in == "profile") {
      if (!ProfilePlace(code, base, length, error)) return false;
    } else if (in != "code") {
      return Reject(error, "\"in\" is \"code\" or \"profile\"");
    }
  }
  std::vector<uint8_t> bytes;
  if (edit.contains("text")) {
    if (!edit["text"].is_string()) return Reject(error, "\"text\" must be a text");
    const std::string text = edit["text"].get<std::string>();
    bytes.assign(text.begin(), text.end());
  } else {
    const char* width_key = edit.contains("u8") ? "u8" : edit.contains("u16") ? "u16" : edit.contains("u32") ? "u32" : "xor";
    const nlohmann::json& value = edit[width_key];
    const int width = std::string(width_key) == "u16" ? 2 : std::string(width_key) == "u32" ? 4 : 1;
    if (!value.is_number_integer() || value.get<int64_t>() < 0 ||
        static_cast<uint64_t>(value.get<int64_t>()) > (width == 4 ? 0xFFFFFFFFull : (1ull << (8 * width)) - 1)) {
      return Reject(error, std::string("the value of \"") + width_key + "\" does not fit its width");
    }
    const uint64_t v = value.get<uint64_t>();
    for (int i = 0; i < width; ++i) bytes.push_back(static_cast<uint8_t>(v >> (8 * (width - 1 - i))));
    if (std::string(width_key) == "xor") {
      size_t at;
      if (!Offset(edit["at"], length, at, error)) return false;
      code[base + at] ^= bytes[0];
      return true;
    }
  }
  size_t at = 0;
  if (!Count(edit["at"], at) || at > length || bytes.size() > length - at)
    return Reject(error, "the edit at " + edit["at"].dump() + " does not fit inside the block");
  std::copy(bytes.begin(), bytes.end(), code.begin() + static_cast<std::ptrdiff_t>(base + at));
  return true;
}

bool EditResource(const nlohmann::json& edit, std::vector<uint8_t>& stream, std::string& error) {
  if (!edit.is_object()) return Reject(error, "a resource edit is an object");
  if (edit.contains("xor") && edit.contains("at") && edit.size() == 2) {
    size_t at;
    if (!Offset(edit["at"], stream.size(), at, error)) return false;
    size_t mask = 0;
    if (!Count(edit["xor"], mask) || mask > 255) return Reject(error, "\"xor\" is a byte");
    stream[at] ^= static_cast<uint8_t>(mask);
    return true;
  }
  if (edit.contains("cut_to") && edit.size() == 1) {
    const nlohmann::json& to = edit["cut_to"];
    size_t n = 0;
    if (to.is_string() && to.get<std::string>() == "half") {
      n = stream.size() / 2;
    } else if (!Count(to, n) || n > stream.size()) {
      return Reject(error, "\"cut_to\" is a length no longer than the stream, or \"half\"");
    }
    stream.resize(n);
    return true;
  }
  if (edit.contains("append") && edit.size() == 1) {
    std::vector<uint8_t> bytes;
    if (!Hex(edit["append"], bytes, error)) return false;
    stream.insert(stream.end(), bytes.begin(), bytes.end());
    return true;
  }
  if (edit.contains("append_copy") && edit.size() == 1 && edit["append_copy"] == true) {
    const std::vector<uint8_t> copy = stream;
    stream.insert(stream.end(), copy.begin(), copy.end());
    return true;
  }
  return Reject(error, "a resource edit is {\"at\", \"xor\"}, {\"cut_to\"}, {\"append\"} or {\"append_copy\": true}");
}

}  // namespace

bool MakeImageResource(const nlohmann::json& recipe_in, const std::vector<uint8_t>& original,
                       const TemplateValues& values, std::optional<std::vector<uint8_t>>& resource,
                       std::string& error) {
  nlohmann::json recipe;
  if (!ExpandJson(recipe_in, values, recipe, error)) return false;
  if (!recipe.is_object()) return Reject(error, "\"image\" is an object");
  for (const auto& [key, value] : recipe.items()) {
    if (key != "remove" && key != "code" && key != "pack" && key != "resource")
      return Reject(error, "\"image\": \"" + key + "\": unknown setting");
  }
  if (recipe.contains("remove")) {
    if (recipe["remove"] != true || recipe.size() != 1) return Reject(error, "{\"remove\": true} stands alone");
    resource.reset();
    return true;
  }
  std::vector<uint8_t> code = original;
  const nlohmann::json edits = recipe.value("code", nlohmann::json::array());
  if (!edits.is_array()) return Reject(error, "\"code\" is a list of edits");
  for (size_t i = 0; i < edits.size(); ++i) {
    if (!EditCode(edits[i], code, error)) return Reject(error, "code edit " + std::to_string(i + 1) + ": " + error);
  }
  std::vector<uint8_t> stream;
  const nlohmann::json pack = recipe.value("pack", nlohmann::json("zlib"));
  if (pack == "zlib") {
    stream = PackCodeBlock(code);
  } else if (pack == "stored") {
    stream = model::StoredStream(code);
  } else if (size_t r = 0, i = 0; pack.is_object() && pack.size() == 2 && pack.contains("resource_size") &&
                                    pack.contains("inflated_size") && Count(pack["resource_size"], r) &&
                                    Count(pack["inflated_size"], i)) {
    if (!model::ExactStream(code, r, i, stream))
      return Reject(error, "no stream of " + pack["resource_size"].dump() + " bytes inflates to " +
                               pack["inflated_size"].dump() + " here");
  } else {
    return Reject(error, "\"pack\" is \"zlib\", \"stored\" or {\"resource_size\": R, \"inflated_size\": I}");
  }
  const nlohmann::json resource_edits = recipe.value("resource", nlohmann::json::array());
  if (!resource_edits.is_array()) return Reject(error, "\"resource\" is a list of edits");
  for (size_t i = 0; i < resource_edits.size(); ++i) {
    if (!EditResource(resource_edits[i], stream, error))
      return Reject(error, "resource edit " + std::to_string(i + 1) + ": " + error);
  }
  resource = std::move(stream);
  return true;
}
