// An identity list and the names the server gives for it through the
// identity lines and the choice of the identity to program as, in the order
// of the identity selection stage.
//
// Input: two bytes (little-endian) give the list's length in bytes, then
// the list's 16-bit elements, then the names in UTF-16, each ending in a
// zero unit; the server's names are taken from there in the order asked
// for, and once they run out the server gives no name at all.

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_run.h"
#include "run/console.h"
#include "run/fatal_exit.h"
#include "server/identity_choice.h"

namespace {

struct NamePool {
  const uint8_t* at;
  const uint8_t* end;
  // The next name, or null once the pool is used up.
  std::unique_ptr<std::wstring> Next() {
    if (end - at < 2) return nullptr;
    auto name = std::make_unique<std::wstring>();
    for (; end - at >= 2; at += 2) {
      const wchar_t unit = static_cast<wchar_t>(at[0] | (at[1] << 8));
      if (unit == 0) {
        at += 2;
        break;
      }
      name->push_back(unit);
    }
    return name;
  }
};

const wchar_t* Printable(const std::unique_ptr<std::wstring>& name) { return name ? name->c_str() : L""; }

// The stage's work over the list's elements once the array is checked and
// locked, with names from the pool where the server's calls would be.
uint16_t ChooseIdentity(const uint8_t* elements, size_t count, NamePool& names) {
  if (count % kIdentityTripleElements != 0) FatalExit(1, "DEVICE DETECT RESPONSE INVALID");
  IdentityChoice choice;
  for (size_t i = 0; i < count / kIdentityTripleElements; ++i) {
    const IdentityTriple triple = ReadIdentityTriple(elements, i);
    std::unique_ptr<std::wstring> identity_name = names.Next();
    std::unique_ptr<std::wstring> level_name = names.Next();
    PrintWideFormat(L"Access as %ls : %ls\n", Printable(identity_name), Printable(level_name));
    ConsiderIdentity(choice, triple);
  }
  if (!choice.chosen) FatalExit(1, "NO IDENTITY WITH SUFFICIENT ACCESS FOUND");
  return choice.identity;
}

// UTF-8, as the recording console keeps wide text.
void AppendUtf8(std::string& out, const std::wstring& text) {
  for (wchar_t w : text) {
    const uint32_t c = static_cast<uint32_t>(w);
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
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
      std::unique_ptr<std::wstring> who = pool.Next(), how = pool.Next();
      shown += "Access as ";
      AppendUtf8(shown, who ? *who : L"");
      shown += " : ";
      AppendUtf8(shown, how ? *how : L"");
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
