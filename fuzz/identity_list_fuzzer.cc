// An identity list and the names the server gives for it through the
// identity lines and the choice of the identity to program as, in the order
// of the identity selection stage.
//
// Input: two bytes (little-endian) give the list's length in bytes, then
// the list's 16-bit elements, then the names in UTF-16, each ending in a
// zero unit; the server's names are taken from there in the order asked
// for, and once they run out the server gives no name at all. A name is as
// long as the input lets it be (scripts/test-native lets one reach
// several hundred thousand characters).

#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fuzz_run.h"
#include "model/utf8.h"
#include "run/console.h"
#include "run/fatal_exit.h"
#include "server/identity_choice.h"

namespace {

struct NamePool {
  const uint8_t* at;
  const uint8_t* end;
  // The next name's UTF-16 units, or none once the pool is used up.
  std::optional<std::u16string> Next() {
    if (end - at < 2) return std::nullopt;
    std::u16string name;
    for (; end - at >= 2; at += 2) {
      const char16_t unit = static_cast<char16_t>(at[0] | (at[1] << 8));
      if (unit == 0) {
        at += 2;
        break;
      }
      name.push_back(unit);
    }
    return name;
  }
};

// The name as the platform's wide text holds the server's UTF-16: as it is
// where wchar_t is 16 bits; one element per character where it is 32, a
// surrogate without its partner kept as its own value.
std::unique_ptr<std::wstring> AsWide(const std::optional<std::u16string>& units) {
  if (!units) return nullptr;
  auto name = std::make_unique<std::wstring>();
  for (size_t i = 0; i < units->size(); ++i) {
    char32_t c = (*units)[i];
    if (sizeof(wchar_t) == 4 && c >= 0xD800 && c <= 0xDBFF && i + 1 < units->size() &&
        (*units)[i + 1] >= 0xDC00 && (*units)[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + ((*units)[++i] - 0xDC00);
    }
    name->push_back(static_cast<wchar_t>(c));
  }
  return name;
}

const wchar_t* Text(const std::unique_ptr<std::wstring>& name) { return name ? name->c_str() : nullptr; }

// The stage's work over the list's elements once the array is checked and
// locked, with names from the pool where the server's calls would be.
uint16_t ChooseIdentity(const uint8_t* elements, size_t count, NamePool& names) {
  if (count % kIdentityTripleElements != 0) FatalExit(1, "DEVICE DETECT RESPONSE INVALID");
  IdentityChoice choice;
  for (size_t i = 0; i < count / kIdentityTripleElements; ++i) {
    const IdentityTriple triple = ReadIdentityTriple(elements, i);
    std::unique_ptr<std::wstring> identity_name = AsWide(names.Next());
    std::unique_ptr<std::wstring> level_name = AsWide(names.Next());
    PrintWideText(IdentityLine(Text(identity_name), Text(level_name)));
    ConsiderIdentity(choice, triple);
  }
  if (!choice.chosen) FatalExit(1, "NO IDENTITY WITH SUFFICIENT ACCESS FOUND");
  return choice.identity;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  size_t list_bytes = data[0] | (data[1] << 8);
  if (list_bytes > size - 2) list_bytes = size - 2;
  const size_t count = list_bytes / 2;
  // The list in a buffer of its own exact size, so that a read past its end
  // is caught rather than landing in the names.
  std::unique_ptr<uint8_t[]> elements(new uint8_t[count * 2]);
  if (count) std::memcpy(elements.get(), data + 2, count * 2);
  NamePool names{data + 2 + list_bytes, data + size};
  const NamePool names_at_start = names;

  uint16_t chosen = 0;
  FuzzOutcome outcome = RunFuzzedStages([&] { chosen = ChooseIdentity(elements.get(), count, names); });

  // What must have been shown and chosen.
  std::string shown;
  const char* message = nullptr;
  bool any = false;
  uint16_t expected = 0;
  if (count % 3) {
    message = "DEVICE DETECT RESPONSE INVALID";
  } else {
    NamePool pool = names_at_start;
    for (size_t i = 0; i < count / 3; ++i) {
      const uint8_t* t = data + 2 + 6 * i;
      const uint16_t number = static_cast<uint16_t>(t[2] | (t[3] << 8));
      const uint16_t level = static_cast<uint16_t>(t[4] | (t[5] << 8));
      const std::optional<std::u16string> who = pool.Next(), how = pool.Next();
      shown += "Access as ";
      // The names' UTF-8 from the model's encoder, not the tool's.
      shown += model::Utf8FromUtf16(who.value_or(u""));
      shown += " : ";
      shown += model::Utf8FromUtf16(how.value_or(u""));
      shown += "\n";
      if (level == 0) {
        // Identity 0 wherever it stands, else the first with access.
        if (!any || number == 0) expected = number;
        any = true;
      }
    }
    if (!any) message = "NO IDENTITY WITH SUFFICIENT ACCESS FOUND";
  }
  FUZZ_REQUIRE(outcome.before == shown, "the console showed\n%s\nwhere\n%s\nwas due", outcome.before.c_str(),
               shown.c_str());
  if (message) {
    FUZZ_REQUIRE(outcome.ended && outcome.message == message, "the run gave \"%s\" where \"%s\" was due",
                 outcome.ended ? outcome.message.c_str() : "(an identity)", message);
  } else {
    FUZZ_REQUIRE(!outcome.ended, "identity %u was due, the run ended with \"%s\"", expected,
                 outcome.message.c_str());
    FUZZ_REQUIRE(chosen == expected, "identity %u was chosen where %u was due", chosen, expected);
  }
  return 0;
}
