#ifndef K27_SERVER_IDENTITY_CHOICE_H_
#define K27_SERVER_IDENTITY_CHOICE_H_

#include <cstddef>
#include <cstdint>
#include <string>

// The identity list comes as 16-bit values, three to an identity.
constexpr size_t kIdentityTripleElements = 3;

struct IdentityTriple {
  uint16_t kind;
  uint16_t number;
  uint16_t level;
};

// Only this access level may program code.
constexpr uint16_t kSufficientAccessLevel = 0;

// Triple `index` of a list of 16-bit values in host (little-endian) order.
IdentityTriple ReadIdentityTriple(const uint8_t* elements, size_t index);

struct IdentityChoice {
  bool chosen = false;
  uint16_t identity = 0;
};

// Takes one triple into the choice, in list order: among those with
// sufficient access, identity 0 wins wherever it stands, else the first.
void ConsiderIdentity(IdentityChoice& choice, const IdentityTriple& triple);

// The identity line: "Access as ", the identity name, " : ", the access
// level name, a newline. The names are the server's, of any length; a null
// name (none given) prints as empty, and a name ends at its first NUL as a C
// string does.
std::wstring IdentityLine(const wchar_t* identity_name, const wchar_t* level_name);

#endif  // K27_SERVER_IDENTITY_CHOICE_H_
