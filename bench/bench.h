#ifndef K27_BENCH_BENCH_H_
#define K27_BENCH_BENCH_H_

// What the bench simulator plays: the server's version, the devices it
// detects with their identities, and how each operation deviates from its
// normal answer. Read from a JSON bench file; nothing here knows COM.

#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "model/device_record.h"

// The server operations a bench can script, creation included.
enum class Op {
  kCreateInstance,
  kGetVersion,
  kLoadProfile,
  kDetectDevices,
  kGetIdentities,
  kGetIdentityName,
  kGetAccessLevelName,
  kOpenDevice,
  kOpenCodeProgramming,
  kAcquireGroup,
  kEraseStart,
  kErasePoll,
  kProgram,
  kReset,
};

const char* OpName(Op op);
std::optional<Op> OpFromName(std::string_view name);
// The operations that answer with a status word: those that touch the
// device.
bool HasStatusWord(Op op);

// Safe-array element types a bench may ask for (VARTYPE values).
constexpr uint16_t kVtI2 = 2;
constexpr uint16_t kVtI4 = 3;
constexpr uint16_t kVtI1 = 16;
constexpr uint16_t kVtUi1 = 17;
constexpr uint16_t kVtUi2 = 18;
constexpr uint16_t kVtUi4 = 19;

// How a returned array departs from its natural form. The natural form of
// the detect response is the device records as bytes (VT_UI1); of an
// identity list, the triples as 16-bit values (VT_UI2).
struct ArrayShape {
  bool null = false;                    // no array at all, with success
  std::optional<uint16_t> vartype;      // another element type
  std::optional<uint32_t> count;        // element count: cut short or zero-padded
  int32_t lower_bound = 0;
  std::optional<std::vector<uint16_t>> elements;  // identity list: these elements instead
};

// A name the server hands out: UTF-8 text, or a null string.
struct BenchName {
  bool null = false;
  std::string text;
};

struct Identity {
  uint16_t kind = 0;
  uint16_t number = 0;
  uint16_t level = 0;
  std::optional<BenchName> name;  // none given: the server makes one up
};

struct RecordPatch {
  uint32_t offset = 0;
  std::vector<uint8_t> bytes;
};

// The record's fields, then what the bench plays beside them.
struct BenchDevice : model::DeviceFields {
  std::vector<RecordPatch> patches;  // raw bytes laid over the finished record
  std::vector<Identity> identities;
  ArrayShape identity_list;
  // Access level -> name; a level not named here gets a made-up name.
  std::map<uint16_t, BenchName> access_level_names;
  // Status words of this device's own, in place of the bench's for the
  // operations named (a line's one failing device among good ones).
  std::map<Op, std::vector<uint16_t>> statuses;
};

// One scripted deviation of an operation.
struct Fault {
  enum class Kind { kHresult, kCrash, kNoReference };
  Kind kind = Kind::kHresult;
  int32_t hresult = 0;
  uint32_t call = 0;  // 1-based call number it applies to; 0: every call
};

struct Bench {
  // One simulator process plays the bench for every creation while it runs,
  // and remembers what runs did to its devices (docs/bench.md).
  bool shared = false;
  uint16_t version_major = 1;
  uint16_t version_minor = 6;
  std::vector<BenchDevice> devices;
  ArrayShape detect_response;
  std::map<Op, std::vector<Fault>> faults;
  // Status words per call of an ICodeProgramming operation; the last repeats.
  std::map<Op, std::vector<uint16_t>> statuses;
  std::map<Op, uint32_t> delay_ms;
};

// A bench file that cannot be played; the message names the place.
class BenchError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Parses a bench file's text. Unknown keys are refused, so that a misspelt
// setting never passes silently as a default.
Bench ParseBench(std::string_view json_text);

// The bench played when none is named.
std::string_view DefaultBenchText();

// Bytes written as hex, as a bench's patches write them: pairs of digits,
// blanks between them allowed.
enum class HexProblem { kNone, kNotHex, kOddDigits };
HexProblem ParseHexBytes(std::string_view text, std::vector<uint8_t>& bytes);

#endif  // K27_BENCH_BENCH_H_
