#include "k27image/pe_file.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "image/byte_order.h"

namespace {

// Small programs laid out as the linker lays them out: headers in the first
// 0x400 bytes, then each section's raw data, 0x200-aligned, then the symbol
// and string tables.
constexpr uint32_t kHeaders = 0x400;
constexpr uint32_t kFileHeader = 0x44;  // after "PE\0\0" at 0x40
constexpr uint32_t kOptional = kFileHeader + 20;
constexpr uint16_t kOptionalSize = 112 + 16 * 8;  // PE32+ with 16 data directories

struct Resource {
  std::string type;
  uint16_t id;
  uint16_t language;
  std::vector<uint8_t> data;
};

struct ResourceSection {
  std::vector<uint8_t> bytes;
  uint32_t first_data_entry = 0;  // offset in the section
};

void Put16(std::vector<uint8_t>& b, size_t at, uint16_t v) { WriteLittle16(&b[at], v); }
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) { WriteLittle32(&b[at], v); }

// The three directory levels (type, id, language), the data entries, the
// type names and the data, in that order, for a section at `rva`.
ResourceSection LayOutResources(uint32_t rva, const std::vector<Resource>& resources) {
  std::map<std::string, std::map<uint16_t, std::map<uint16_t, const Resource*>>> tree;
  for (const Resource& r : resources) tree[r.type][r.id][r.language] = &r;

  uint32_t size = 16 + 8 * tree.size();
  for (const auto& [type, ids] : tree) {
    size += 16 + 8 * ids.size();
    for (const auto& [id, languages] : ids) size += 16 + 8 * languages.size();
  }
  const uint32_t entries = size;
  size += 16 * resources.size();
  const uint32_t names = size;
  for (const auto& [type, ids] : tree) size += 2 + 2 * type.size();
  size = (size + 3) & ~3u;
  const uint32_t data = size;
  for (const Resource& r : resources) size += (r.data.size() + 3) & ~size_t{3};

  ResourceSection section;
  std::vector<uint8_t>& b = section.bytes;
  b.assign(size, 0);
  section.first_data_entry = entries;
  uint32_t next_dir = 0, next_entry = entries, next_name = names, next_data = data;
  auto directory = [&](uint16_t named, uint16_t ids) {
    const uint32_t at = next_dir;
    Put16(b, at + 12, named);
    Put16(b, at + 14, ids);
    next_dir += 16 + 8 * (named + ids);
    return at + 16;
  };
  const uint32_t root = directory(static_cast<uint16_t>(tree.size()), 0);
  uint32_t t = 0;
  for (const auto& [type, ids] : tree) {
    Put32(b, root + 8 * t, 0x80000000u | next_name);
    Put16(b, next_name, static_cast<uint16_t>(type.size()));
    for (size_t i = 0; i < type.size(); ++i) Put16(b, next_name + 2 + 2 * i, static_cast<uint8_t>(type[i]));
    next_name += 2 + 2 * type.size();
    Put32(b, root + 8 * t + 4, 0x80000000u | next_dir);
    const uint32_t id_entries = directory(0, static_cast<uint16_t>(ids.size()));
    uint32_t n = 0;
    for (const auto& [id, languages] : ids) {
      Put32(b, id_entries + 8 * n, id);
      Put32(b, id_entries + 8 * n + 4, 0x80000000u | next_dir);
      const uint32_t language_entries = directory(0, static_cast<uint16_t>(languages.size()));
      uint32_t l = 0;
      for (const auto& [language, r] : languages) {
        Put32(b, language_entries + 8 * l, language);
        Put32(b, language_entries + 8 * l + 4, next_entry);
        Put32(b, next_entry, rva + next_data);
        Put32(b, next_entry + 4, static_cast<uint32_t>(r->data.size()));
        std::copy(r->data.begin(), r->data.end(), b.begin() + next_data);
        next_entry += 16;
        next_data += (r->data.size() + 3) & ~size_t{3};
        ++l;
      }
      ++n;
    }
    ++t;
  }
  return section;
}

struct Section {
  uint32_t rva;
  std::vector<uint8_t> data;
};

struct Program {
  std::vector<uint8_t> bytes;
  std::vector<uint32_t> raw_offsets;
};

Program MakeProgram(const std::vector<Section>& sections, uint32_t resource_rva = 0,
                    const std::vector<uint8_t>& symbols = {}, uint32_t symbol_count = 0) {
  Program p;
  std::vector<uint8_t>& b = p.bytes;
  b.assign(kHeaders, 0);
  b[0] = 'M';
  b[1] = 'Z';
  Put32(b, 0x3C, 0x40);
  b[0x40] = 'P';
  b[0x41] = 'E';
  Put16(b, kFileHeader, 0x8664);
  Put16(b, kFileHeader + 2, static_cast<uint16_t>(sections.size()));
  Put32(b, kFileHeader + 4, 1700000000);
  Put16(b, kFileHeader + 16, kOptionalSize);
  Put16(b, kOptional, 0x20B);
  Put32(b, kOptional + 108, 16);
  Put32(b, kOptional + 112 + 16, resource_rva);
  const uint32_t table = kOptional + kOptionalSize;
  for (size_t i = 0; i < sections.size(); ++i) {
    const uint32_t raw = static_cast<uint32_t>(b.size());
    const uint32_t raw_size = (sections[i].data.size() + 0x1FF) & ~0x1FFu;
    const uint32_t h = table + 40 * i;
    b[h] = '.';
    Put32(b, h + 8, static_cast<uint32_t>(sections[i].data.size()));
    Put32(b, h + 12, sections[i].rva);
    Put32(b, h + 16, raw_size);
    Put32(b, h + 20, raw);
    p.raw_offsets.push_back(raw);
    b.insert(b.end(), sections[i].data.begin(), sections[i].data.end());
    b.resize(raw + raw_size, 0);
  }
  if (!symbols.empty()) {
    Put32(b, kFileHeader + 8, static_cast<uint32_t>(b.size()));
    Put32(b, kFileHeader + 12, symbol_count);
    b.insert(b.end(), symbols.begin(), symbols.end());
  }
  return p;
}

const std::vector<uint8_t> kCode(300, 0xC3);
constexpr uint32_t kResourceRva = 0x3000;

Program WithResources(const std::vector<Resource>& resources) {
  return MakeProgram({{0x1000, kCode}, {kResourceRva, LayOutResources(kResourceRva, resources).bytes}},
                     kResourceRva);
}

std::vector<uint8_t> Bytes(size_t n, uint8_t seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed + i * 7);
  return v;
}

TEST(PeFileTest, FindsTheImageAsTheToolsLookupWould) {
  const std::vector<uint8_t> image = Bytes(1500, 1), other = Bytes(40, 9);
  const struct {
    const char* name;
    std::vector<Resource> resources;
    bool found;
    uint16_t language;
    size_t languages;
  } rows[] = {
      {"neutral", {{"IMAGE", 1001, 0, image}, {"BITMAP", 1001, 0, other}}, true, 0, 1},
      {"type name in lower case", {{"image", 1001, 0, image}}, true, 0, 1},
      {"neutral chosen over US English", {{"IMAGE", 1001, 0x409, other}, {"IMAGE", 1001, 0, image}}, true, 0, 2},
      {"one other language", {{"IMAGE", 1001, 0x407, image}}, true, 0x407, 1},
      {"another id only", {{"IMAGE", 1002, 0, image}, {"IMAGE", 1000, 0, image}}, false, 0, 0},
      {"a longer type name", {{"IMAGES", 1001, 0, image}}, false, 0, 0},
      {"a shorter type name", {{"IMAG", 1001, 0, image}}, false, 0, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const Program p = WithResources(row.resources);
    PeHeaders pe;
    std::string error;
    ASSERT_TRUE(ReadPeHeaders(p.bytes, pe, error)) << error;
    ResourceLookup found;
    ASSERT_TRUE(FindProgramResource(p.bytes, pe, "IMAGE", 1001, found, error)) << error;
    ASSERT_EQ(found.found, row.found);
    if (!row.found) continue;
    EXPECT_EQ(found.language, row.language);
    EXPECT_EQ(found.languages, row.languages);
    ASSERT_EQ(found.size, image.size());
    EXPECT_TRUE(std::equal(image.begin(), image.end(), p.bytes.begin() + found.offset));
  }
}

TEST(PeFileTest, NoResourceDirectoryIsNotFound) {
  const Program p = MakeProgram({{0x1000, kCode}});
  PeHeaders pe;
  std::string error;
  ASSERT_TRUE(ReadPeHeaders(p.bytes, pe, error)) << error;
  ResourceLookup found;
  ASSERT_TRUE(FindProgramResource(p.bytes, pe, "IMAGE", 1001, found, error));
  EXPECT_FALSE(found.found);
}

TEST(PeFileTest, DamagedResourceDirectoriesAreRefused) {
  const std::vector<uint8_t> image = Bytes(1024, 3);
  const ResourceSection layout = LayOutResources(kResourceRva, {{"IMAGE", 1001, 0, image}});
  const Program good = MakeProgram({{0x1000, kCode}, {kResourceRva, layout.bytes}}, kResourceRva);
  const uint32_t section = good.raw_offsets[1];
  const uint32_t entry = section + layout.first_data_entry;
  // The section's raw data is padded to 0x200: its last byte.
  const uint32_t raw_end = kResourceRva + ((static_cast<uint32_t>(layout.bytes.size()) + 0x1FF) & ~0x1FFu);
  const uint32_t data_rva = ReadLittle32(&good.bytes[entry]);
  const char* const kDataOutside = "the resource's data lies outside the program's sections";
  const struct {
    const char* name;
    uint32_t at;
    uint32_t value;
    const char* refusal;  // nullptr: found
  } rows[] = {
      {"data ends at the section's end", entry + 4, raw_end - data_rva, nullptr},
      {"data one byte past it", entry + 4, raw_end - data_rva + 1, kDataOutside},
      {"data far past it", entry + 4, 0xFFFFFFF0u, kDataOutside},
      {"data address in no section", entry, 0x9000, kDataOutside},
      {"data address just below the section", entry, kResourceRva - 1, kDataOutside},
      {"type entry names data", section + 16 + 4, 16,
       "a resource directory entry names data where a directory must be"},
      {"type directory outside the section", section + 16 + 4, 0x80000000u | 0x7FFFFF00u,
       "a resource directory lies outside the program's sections"},
      {"type name outside the section", section + 16, 0x80000000u | 0x10000u,
       "a resource name lies outside the program's sections"},
      {"root entry count past the section", section + 12, 0xFFFF,
       "the entries of a resource directory run past the program's sections"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<uint8_t> bytes = good.bytes;
    if (row.at == section + 12)
      WriteLittle16(&bytes[row.at], static_cast<uint16_t>(row.value));
    else
      WriteLittle32(&bytes[row.at], row.value);
    PeHeaders pe;
    std::string error;
    ASSERT_TRUE(ReadPeHeaders(bytes, pe, error)) << error;
    ResourceLookup found;
    EXPECT_EQ(FindProgramResource(bytes, pe, "IMAGE", 1001, found, error), row.refusal == nullptr) << error;
    EXPECT_EQ(error, row.refusal ? row.refusal : "");
  }
}

TEST(PeFileTest, HeadersThatDoNotFitAreRefused) {
  const Program good = MakeProgram({{0x1000, kCode}});
  const char* const kNoSectionTable = "the section table does not fit in the file";
  const struct {
    const char* name;
    size_t keep;    // bytes kept of the file
    size_t at;      // a 32-bit value written here, unless 0
    uint32_t value;
    const char* refusal;  // nullptr: read
  } rows[] = {
      {"whole", good.bytes.size(), 0, 0, nullptr},
      {"shorter than a DOS header", 63, 0, 0, "no MZ header"},
      {"PE header pointer past the end", good.bytes.size(), 0x3C, static_cast<uint32_t>(good.bytes.size()),
       "no PE header"},
      {"PE header pointer to other bytes", good.bytes.size(), 0x3C, 0x80, "no PE header"},
      {"unknown optional header", good.bytes.size(), kOptional, 0x107, "unknown optional header"},
      {"optional header past the end", good.bytes.size(), kFileHeader + 16, 0xFFFF,
       "the optional header does not fit in the file"},
      {"section table past the end", good.bytes.size(), kFileHeader + 2, 0x7FFF, kNoSectionTable},
      {"section table ends at the file's end", kOptional + kOptionalSize + 40, 0, 0, nullptr},
      {"section table one byte short", kOptional + kOptionalSize + 39, 0, 0, kNoSectionTable},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<uint8_t> bytes(good.bytes.begin(), good.bytes.begin() + row.keep);
    if (row.at == kFileHeader + 2 || row.at == kFileHeader + 16 || row.at == kOptional)
      WriteLittle16(&bytes[row.at], static_cast<uint16_t>(row.value));
    else if (row.at)
      WriteLittle32(&bytes[row.at], row.value);
    PeHeaders pe;
    std::string error;
    EXPECT_EQ(ReadPeHeaders(bytes, pe, error), row.refusal == nullptr) << error;
    EXPECT_EQ(error, row.refusal ? row.refusal : "");
  }
}

// Two symbols, then a string table of 4 + 12 bytes.
std::vector<uint8_t> SymbolTables() {
  std::vector<uint8_t> t = Bytes(2 * 18, 0x40);
  const std::vector<uint8_t> strings = {16, 0, 0, 0, '.', 'd', 'e', 'b', 'u', 'g', '_', 'i', 'n', 'f', 'o', 0};
  t.insert(t.end(), strings.begin(), strings.end());
  return t;
}

uint32_t SymbolPointer(const std::vector<uint8_t>& b) { return ReadLittle32(&b[kFileHeader + 8]); }

TEST(PeFileTest, SymbolTableFollowsTheSectionsItFollowed) {
  const std::vector<uint8_t> symbols = SymbolTables();
  const std::vector<uint8_t> small_rsrc(0x100, 1), large_rsrc(0x900, 2), debug(0x300, 3);
  const Program before = MakeProgram({{0x1000, kCode}, {0x3000, small_rsrc}, {0x5000, debug}}, 0, symbols, 2);
  // What the resource updater writes: the section after the resources moved
  // by as much as they grew, the symbol table with it, its pointer not.
  Program moved = MakeProgram({{0x1000, kCode}, {0x3000, large_rsrc}, {0x6000, debug}}, 0, symbols, 2);
  const uint32_t moved_to = SymbolPointer(moved.bytes);
  Put32(moved.bytes, kFileHeader + 8, SymbolPointer(before.bytes));
  // An updater that drops what lies past the last section.
  Program dropped = MakeProgram({{0x1000, kCode}, {0x3000, large_rsrc}, {0x6000, debug}});
  Put32(dropped.bytes, kFileHeader + 8, SymbolPointer(before.bytes));
  Put32(dropped.bytes, kFileHeader + 12, 2);
  const size_t dropped_size = dropped.bytes.size();
  // One that kept it right.
  const Program kept = MakeProgram({{0x1000, kCode}, {0x3000, large_rsrc}, {0x6000, debug}}, 0, symbols, 2);

  const struct {
    const char* name;
    std::vector<uint8_t> after;
    uint32_t pointer;
    size_t size;
  } rows[] = {
      {"moved", moved.bytes, moved_to, moved.bytes.size()},
      {"dropped", dropped.bytes, static_cast<uint32_t>(dropped_size), dropped_size + symbols.size()},
      {"kept", kept.bytes, SymbolPointer(kept.bytes), kept.bytes.size()},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<uint8_t> after = row.after;
    std::string error;
    ASSERT_TRUE(CarrySymbolTable(before.bytes, after, error)) << error;
    EXPECT_EQ(SymbolPointer(after), row.pointer);
    EXPECT_EQ(ReadLittle32(&after[kFileHeader + 12]), 2u);
    ASSERT_EQ(after.size(), row.size);
    EXPECT_TRUE(std::equal(symbols.begin(), symbols.end(), after.begin() + SymbolPointer(after)));
  }
}

TEST(PeFileTest, StrippedProgramsAndDamagedSymbolTables) {
  const Program stripped = MakeProgram({{0x1000, kCode}});
  std::vector<uint8_t> after = MakeProgram({{0x1000, kCode}, {0x3000, std::vector<uint8_t>(0x300, 1)}}).bytes;
  const std::vector<uint8_t> untouched = after;
  std::string error;
  ASSERT_TRUE(CarrySymbolTable(stripped.bytes, after, error)) << error;
  EXPECT_EQ(after, untouched);

  // A string table whose length runs one byte past the file.
  std::vector<uint8_t> symbols = SymbolTables();
  Program before = MakeProgram({{0x1000, kCode}}, 0, symbols, 2);
  WriteLittle32(&before.bytes[SymbolPointer(before.bytes) + 36], 17);
  EXPECT_FALSE(CarrySymbolTable(before.bytes, after, error));
  EXPECT_EQ(error, "the program's symbol table does not fit in it");
  EXPECT_EQ(after, untouched);
  // A symbol count that puts the string table past the file.
  before = MakeProgram({{0x1000, kCode}}, 0, symbols, 3);
  error.clear();
  EXPECT_FALSE(CarrySymbolTable(before.bytes, after, error));
  EXPECT_EQ(error, "the program's symbol table does not fit in it");
}

}  // namespace
