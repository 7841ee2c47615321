#include "template_text.h"

#include <cctype>
#include <optional>
#include <vector>

#include "lib/reject.h"

namespace {

// One piece of a text: literal, or a placeholder's inside ("name+1").
struct Piece {
  bool placeholder = false;
  std::string text;
};

// A name in lower case, then at most +N or -N: anything else in braces
// (a GUID, a name from a bench) is plain text.
bool LooksLikePlaceholder(std::string_view inside) {
  size_t i = 0;
  if (inside.empty() || !std::islower(static_cast<unsigned char>(inside[0]))) return false;
  while (i < inside.size() && (std::islower(static_cast<unsigned char>(inside[i])) ||
                               std::isdigit(static_cast<unsigned char>(inside[i])) || inside[i] == '_'))
    ++i;
  if (i == inside.size()) return true;
  if (inside[i] != '+' && inside[i] != '-') return false;
  if (++i == inside.size()) return false;
  for (; i < inside.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(inside[i]))) return false;
  }
  return true;
}

void Split(std::string_view text, std::vector<Piece>& pieces) {
  Piece literal;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if ((c == '{' || c == '}') && i + 1 < text.size() && text[i + 1] == c) {
      literal.text += c;
      ++i;
      continue;
    }
    const size_t close = c == '{' ? text.find('}', i) : std::string_view::npos;
    if (close == std::string_view::npos || !LooksLikePlaceholder(text.substr(i + 1, close - i - 1))) {
      literal.text += c;
      continue;
    }
    if (!literal.text.empty()) pieces.push_back(literal);
    literal.text.clear();
    pieces.push_back({true, std::string(text.substr(i + 1, close - i - 1))});
    i = close;
  }
  if (!literal.text.empty()) pieces.push_back(literal);
}

// "name", "name+12" or "name-3": the name and the number added.
bool ParsePlaceholder(const std::string& inside, std::string& name, int64_t& offset) {
  size_t at = inside.find_first_of("+-");
  name = inside.substr(0, at);
  offset = 0;
  if (name.empty()) return false;
  for (char c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return false;
  }
  if (at == std::string::npos) return true;
  const std::string digits = inside.substr(at + 1);
  if (digits.empty() || digits.size() > 9) return false;
  for (char c : digits) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  }
  offset = std::stoll(digits) * (inside[at] == '-' ? -1 : 1);
  return true;
}

bool Resolve(const std::string& inside, const TemplateValues& values, TemplateValue& value, std::string& error) {
  std::string name;
  int64_t offset = 0;
  if (!ParsePlaceholder(inside, name, offset))
    return Reject(error, "\"{" + inside + "}\" is not a placeholder (a name, then at most +N or -N)");
  const auto found = values.find(name);
  if (found == values.end()) return Reject(error, "no value is called \"" + name + "\"");
  value = found->second;
  if (offset != 0) {
    if (!value.is_number) return Reject(error, "\"" + name + "\" is a text: nothing can be added to it");
    value.number += offset;
  }
  return true;
}

std::string Text(const TemplateValue& value) { return value.is_number ? std::to_string(value.number) : value.text; }

}  // namespace

bool ExpandText(std::string_view text, const TemplateValues& values, std::string& out, std::string& error) {
  std::vector<Piece> pieces;
  Split(text, pieces);
  out.clear();
  for (const Piece& piece : pieces) {
    if (!piece.placeholder) {
      out += piece.text;
      continue;
    }
    TemplateValue value;
    if (!Resolve(piece.text, values, value, error)) return false;
    out += Text(value);
  }
  return true;
}

bool ExpandJson(const nlohmann::json& in, const TemplateValues& values, nlohmann::json& out, std::string& error,
                const std::vector<std::string>& kept) {
  if (in.is_object()) {
    out = nlohmann::json::object();
    for (const auto& [key, item] : in.items()) {
      if (!ExpandJson(item, values, out[key], error, kept)) return false;
    }
    return true;
  }
  if (in.is_array()) {
    out = nlohmann::json::array();
    for (const auto& item : in) {
      out.push_back(nullptr);
      if (!ExpandJson(item, values, out.back(), error, kept)) return false;
    }
    return true;
  }
  if (!in.is_string()) {
    out = in;
    return true;
  }
  const std::string text = in.get<std::string>();
  std::vector<Piece> pieces;
  Split(text, pieces);
  if (pieces.size() == 1 && pieces[0].placeholder) {
    for (const std::string& name : kept) {
      if (pieces[0].text == name) {
        out = in;
        return true;
      }
    }
    TemplateValue value;
    if (!Resolve(pieces[0].text, values, value, error)) return false;
    if (value.is_number) out = value.number;
    else out = value.text;
    return true;
  }
  std::string expanded;
  if (!ExpandText(text, values, expanded, error)) return false;
  out = expanded;
  return true;
}

bool MatchLine(std::string_view pattern, std::string_view line, const TemplateValues& values, std::string& error) {
  std::vector<Piece> pieces;
  Split(pattern, pieces);
  size_t at = 0;
  for (const Piece& piece : pieces) {
    if (piece.placeholder && piece.text == "secs") {
      const size_t start = at;
      while (at < line.size() && std::isdigit(static_cast<unsigned char>(line[at]))) ++at;
      if (at == start || at >= line.size() || line[at] != '.') return false;
      ++at;
      for (int i = 0; i < 3; ++i, ++at) {
        if (at >= line.size() || !std::isdigit(static_cast<unsigned char>(line[at]))) return false;
      }
      continue;
    }
    std::string literal = piece.text;
    if (piece.placeholder) {
      TemplateValue value;
      if (!Resolve(piece.text, values, value, error)) return false;
      literal = Text(value);
    }
    if (line.substr(at, literal.size()) != literal) return false;
    at += literal.size();
  }
  return at == line.size();
}
