#include "server/identity_choice.h"

#include "image/byte_order.h"

IdentityTriple ReadIdentityTriple(const uint8_t* elements, size_t index) {
  const uint8_t* at = elements + index * kIdentityTripleElements * 2;
  return IdentityTriple{ReadLittle16(at), ReadLittle16(at + 2), ReadLittle16(at + 4)};
}

void ConsiderIdentity(IdentityChoice& choice, const IdentityTriple& triple) {
  if (triple.level != kSufficientAccessLevel) return;
  if (triple.number == 0 || !choice.chosen) choice.identity = triple.number;
  choice.chosen = true;
}

std::wstring IdentityLine(const wchar_t* identity_name, const wchar_t* level_name) {
  std::wstring line = L"Access as ";
  if (identity_name) line += identity_name;
  line += L" : ";
  if (level_name) line += level_name;
  line += L"\n";
  return line;
}
