#include "k27image/pe_file.h"

#include <algorithm>
#include <cstring>

#include "image/byte_order.h"
#include "lib/reject.h"

namespace {

constexpr uint32_t kDosHeaderSize = 64;
constexpr uint32_t kNewHeaderPointer = 0x3C;
constexpr uint32_t kFileHeaderSize = 20;
constexpr uint32_t kSectionHeaderSize = 40;
constexpr uint32_t kSymbolSize = 18;
constexpr uint32_t kResourceDirectoryIndex = 2;
constexpr uint32_t kDirectorySize = 16;
constexpr uint32_t kDirectoryEntrySize = 8;
constexpr uint32_t kDataEntrySize = 16;
constexpr uint32_t kHighBit = 0x80000000u;

// [offset, offset + length) lies inside the file. In 64 bits, so no sum wraps.
bool Inside(const std::vector<uint8_t>& file, uint64_t offset, uint64_t length) {
  return offset <= file.size() && length <= file.size() - offset;
}

// The file offset of `length` bytes at `rva`, when a section's raw data
// holds all of them.
bool MapRva(const std::vector<uint8_t>& file, const PeHeaders& pe, uint64_t rva, uint64_t length, uint32_t& offset) {
  for (const PeSection& s : pe.sections) {
    // An address past 32 bits lies in no section.
    if (rva < s.virtual_address || rva > UINT32_MAX) continue;
    const uint64_t into = rva - s.virtual_address;
    if (into > s.raw_size || length > s.raw_size - into) continue;
    if (!Inside(file, uint64_t{s.raw_offset} + into, length)) return false;
    offset = static_cast<uint32_t>(s.raw_offset + into);
    return true;
  }
  return false;
}

// One level of the resource directory.
struct Directory {
  const std::vector<uint8_t>* file;
  const PeHeaders* pe;
  uint32_t offset = 0;  // of its first entry, in the file
  uint32_t named = 0, ids = 0;
};

bool OpenDirectory(const std::vector<uint8_t>& file, const PeHeaders& pe, uint32_t at, Directory& dir,
                   std::string& error) {
  dir.file = &file;
  dir.pe = &pe;
  uint32_t header;
  if (!MapRva(file, pe, uint64_t{pe.resource_rva} + at, kDirectorySize, header))
    return Reject(error, "a resource directory lies outside the program's sections");
  dir.named = ReadLittle16(&file[header + 12]);
  dir.ids = ReadLittle16(&file[header + 14]);
  if (!MapRva(file, pe, uint64_t{pe.resource_rva} + at + kDirectorySize,
              uint64_t{dir.named + dir.ids} * kDirectoryEntrySize, dir.offset)) {
    return Reject(error, "the entries of a resource directory run past the program's sections");
  }
  return true;
}

uint32_t EntryName(const Directory& dir, uint32_t i) { return ReadLittle32(&(*dir.file)[dir.offset + 8 * i]); }
uint32_t EntryTarget(const Directory& dir, uint32_t i) { return ReadLittle32(&(*dir.file)[dir.offset + 8 * i + 4]); }

bool NameIs(const Directory& dir, uint32_t name, const char* wanted, bool& same, std::string& error) {
  const std::vector<uint8_t>& file = *dir.file;
  same = false;
  // An entry among the named ones whose name is a number matches no name.
  if (!(name & kHighBit)) return true;
  const uint64_t rva = uint64_t{dir.pe->resource_rva} + (name & ~kHighBit);
  uint32_t at;
  if (!MapRva(file, *dir.pe, rva, 2, at)) return Reject(error, "a resource name lies outside the program's sections");
  const uint16_t length = ReadLittle16(&file[at]);
  uint32_t chars;
  if (!MapRva(file, *dir.pe, rva + 2, 2u * length, chars))
    return Reject(error, "a resource name runs past the program's sections");
  same = length == std::strlen(wanted);
  for (uint16_t i = 0; same && i < length; ++i) {
    const uint16_t c = ReadLittle16(&file[chars + 2 * i]);
    auto upper = [](unsigned v) { return v >= 'a' && v <= 'z' ? v - 32 : v; };
    same = c < 0x80 && upper(c) == upper(static_cast<unsigned char>(wanted[i]));
  }
  return true;
}

// The subdirectory an entry names; a data entry where a directory must be
// is damage.
bool Subdirectory(const Directory& dir, uint32_t i, Directory& sub, std::string& error) {
  const uint32_t target = EntryTarget(dir, i);
  if (!(target & kHighBit)) return Reject(error, "a resource directory entry names data where a directory must be");
  return OpenDirectory(*dir.file, *dir.pe, target & ~kHighBit, sub, error);
}

}  // namespace

bool IsProgramFile(const std::vector<uint8_t>& file) {
  return file.size() >= 2 && file[0] == 'M' && file[1] == 'Z';
}

bool ReadPeHeaders(const std::vector<uint8_t>& file, PeHeaders& pe, std::string& error) {
  pe = PeHeaders{};
  if (!IsProgramFile(file) || file.size() < kDosHeaderSize) return Reject(error, "no MZ header");
  const uint32_t signature = ReadLittle32(&file[kNewHeaderPointer]);
  if (!Inside(file, signature, 4 + kFileHeaderSize) || std::memcmp(&file[signature], "PE\0\0", 4) != 0)
    return Reject(error, "no PE header");
  pe.file_header = signature + 4;
  const uint8_t* header = &file[pe.file_header];
  const uint16_t sections = ReadLittle16(header + 2);
  pe.time_stamp = ReadLittle32(header + 4);
  pe.symbol_table = ReadLittle32(header + 8);
  pe.symbol_count = ReadLittle32(header + 12);
  const uint16_t optional_size = ReadLittle16(header + 16);
  const uint64_t optional = uint64_t{pe.file_header} + kFileHeaderSize;
  if (!Inside(file, optional, optional_size) || optional_size < 2)
    return Reject(error, "the optional header does not fit in the file");
  // PE32 and PE32+ differ in where the data directories start.
  const uint16_t magic = ReadLittle16(&file[optional]);
  uint32_t directories;
  if (magic == 0x10B) {
    directories = 96;
  } else if (magic == 0x20B) {
    directories = 112;
  } else {
    return Reject(error, "unknown optional header");
  }
  if (optional_size < directories) return Reject(error, "the optional header is too short");
  const uint32_t directory_count = ReadLittle32(&file[optional + directories - 4]);
  const uint64_t resource_entry = directories + 8u * kResourceDirectoryIndex;
  if (directory_count > kResourceDirectoryIndex && resource_entry + 8 <= optional_size) {
    pe.resource_rva = ReadLittle32(&file[optional + resource_entry]);
    pe.resource_size = ReadLittle32(&file[optional + resource_entry + 4]);
  }
  const uint64_t table = optional + optional_size;
  if (!Inside(file, table, uint64_t{sections} * kSectionHeaderSize))
    return Reject(error, "the section table does not fit in the file");
  for (uint16_t i = 0; i < sections; ++i) {
    const uint8_t* s = &file[table + i * kSectionHeaderSize];
    pe.sections.push_back({ReadLittle32(s + 12), ReadLittle32(s + 8), ReadLittle32(s + 20), ReadLittle32(s + 16)});
  }
  return true;
}

bool FindProgramResource(const std::vector<uint8_t>& file, const PeHeaders& pe, const char* type, uint16_t id,
                         ResourceLookup& found, std::string& error) {
  found = ResourceLookup{};
  if (pe.resource_rva == 0) return true;
  Directory root, names, languages;
  if (!OpenDirectory(file, pe, 0, root, error)) return false;

  // Named entries come first: the type is a string.
  bool have_type = false;
  for (uint32_t i = 0; i < root.named && !have_type; ++i) {
    bool same = false;
    if (!NameIs(root, EntryName(root, i), type, same, error)) return false;
    if (same && !Subdirectory(root, i, names, error)) return false;
    have_type = same;
  }
  if (!have_type) return true;

  bool have_id = false;
  for (uint32_t i = names.named; i < names.named + names.ids && !have_id; ++i) {
    have_id = EntryName(names, i) == id;
    if (have_id && !Subdirectory(names, i, languages, error)) return false;
  }
  if (!have_id) return true;

  const uint32_t count = languages.named + languages.ids;
  if (count == 0) return true;
  // Languages are numbers; the neutral one is what the tool's lookup gets.
  uint32_t chosen = languages.ids > 0 ? languages.named : 0;
  for (uint32_t i = languages.named; i < count; ++i) {
    if (EntryName(languages, i) == 0) {
      chosen = i;
      break;
    }
  }
  const uint32_t target = EntryTarget(languages, chosen);
  uint32_t entry;
  if ((target & kHighBit) || !MapRva(file, pe, uint64_t{pe.resource_rva} + target, kDataEntrySize, entry))
    return Reject(error, "the resource's data entry is damaged");
  const uint32_t data_rva = ReadLittle32(&file[entry]);
  const uint32_t size = ReadLittle32(&file[entry + 4]);
  if (!MapRva(file, pe, data_rva, size, found.offset))
    return Reject(error, "the resource's data lies outside the program's sections");
  found.found = true;
  found.size = size;
  found.languages = count;
  found.language = static_cast<uint16_t>(EntryName(languages, chosen));
  return true;
}

bool CarrySymbolTable(const std::vector<uint8_t>& before, std::vector<uint8_t>& after, std::string& error) {
  PeHeaders old_pe, new_pe;
  if (!ReadPeHeaders(before, old_pe, error)) return false;
  if (old_pe.symbol_table == 0) return true;
  if (!ReadPeHeaders(after, new_pe, error)) return false;

  // The symbol table, then the string table, which starts with its own
  // length (the length field included).
  const uint64_t strings = old_pe.symbol_table + uint64_t{old_pe.symbol_count} * kSymbolSize;
  if (!Inside(before, strings, 4) || ReadLittle32(&before[strings]) < 4 ||
      !Inside(before, strings, ReadLittle32(&before[strings]))) {
    return Reject(error, "the program's symbol table does not fit in it");
  }
  const uint64_t length = strings + ReadLittle32(&before[strings]) - old_pe.symbol_table;
  const uint8_t* table = &before[old_pe.symbol_table];
  auto holds = [&](uint64_t at) { return Inside(after, at, length) && std::memcmp(&after[at], table, length) == 0; };

  auto end_of_sections = [](const PeHeaders& pe) {
    uint64_t end = 0;
    for (const PeSection& s : pe.sections) end = std::max(end, uint64_t{s.raw_offset} + s.raw_size);
    return end;
  };
  uint64_t at = new_pe.symbol_table;
  if (!holds(at)) {
    // Moved along with the sections before it, by as much as they moved.
    const uint64_t old_end = end_of_sections(old_pe);
    at = end_of_sections(new_pe) + (old_pe.symbol_table - std::min(old_end, uint64_t{old_pe.symbol_table}));
    if (!holds(at)) {
      at = after.size();
      after.insert(after.end(), table, table + length);
    }
  }
  if (at > UINT32_MAX) return Reject(error, "the rewritten program is too large for a symbol table pointer");
  WriteLittle32(&after[new_pe.file_header + 8], static_cast<uint32_t>(at));
  WriteLittle32(&after[new_pe.file_header + 12], old_pe.symbol_count);
  return true;
}
