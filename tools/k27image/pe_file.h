#ifndef K27_K27IMAGE_PE_FILE_H_
#define K27_K27IMAGE_PE_FILE_H_

// A Windows program file read as bytes: its section table, its resource
// directory and its COFF symbol table. Every offset is checked against the
// file, so a damaged or foreign file is refused, never read past its end.

#include <cstdint>
#include <string>
#include <vector>

struct PeSection {
  uint32_t virtual_address = 0;
  uint32_t virtual_size = 0;
  uint32_t raw_offset = 0;
  uint32_t raw_size = 0;
};

struct PeHeaders {
  uint32_t file_header = 0;   // offset of the COFF file header, after "PE\0\0"
  uint32_t time_stamp = 0;    // the link time, or SOURCE_DATE_EPOCH
  uint32_t symbol_table = 0;  // file offset; 0 once stripped
  uint32_t symbol_count = 0;
  uint32_t resource_rva = 0;  // 0: no resource directory
  uint32_t resource_size = 0;
  std::vector<PeSection> sections;
};

// The file starts as a program does ("MZ").
bool IsProgramFile(const std::vector<uint8_t>& file);

// False, with the reason in `error`, when the headers are not those of a
// Windows program or do not fit in the file.
bool ReadPeHeaders(const std::vector<uint8_t>& file, PeHeaders& pe, std::string& error);

struct ResourceLookup {
  bool found = false;
  uint16_t language = 0;
  size_t languages = 0;  // how many languages the entry holds
  uint32_t offset = 0;   // of the data, in the file
  uint32_t size = 0;
};

// The resource of string type `type` (compared without regard to case, as
// Windows compares resource names) and integer id `id`: its language-neutral
// entry when there is one, else its first. True with `found` false when the
// program has no such resource; false, with the reason, when the resource
// directory on the way is damaged.
bool FindProgramResource(const std::vector<uint8_t>& file, const PeHeaders& pe, const char* type, uint16_t id,
                         ResourceLookup& found, std::string& error);

// `after` is `before` with its resources rewritten by the platform's
// updater, which moves what follows the resource section but not the COFF
// file header's pointer to the symbol table. Points it at the symbol and
// string tables again: where the updater moved them, or appended when it
// dropped them. A stripped `before` leaves `after` as it is.
bool CarrySymbolTable(const std::vector<uint8_t>& before, std::vector<uint8_t>& after, std::string& error);

#endif  // K27_K27IMAGE_PE_FILE_H_
