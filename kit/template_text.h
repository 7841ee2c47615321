#ifndef K27_KIT_TEMPLATE_TEXT_H_
#define K27_KIT_TEMPLATE_TEXT_H_

// Placeholders in a scenario, for what depends on the image the program
// carries ("{release}", "{min_boot_branch-1}") or on the moment ("{secs}",
// an elapsed time). Only a lower-case name with at most +N or -N is a
// placeholder: other text in braces (a GUID) is text. "{{" and "}}" stand
// for braces.

#include <nlohmann/json.hpp>

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

struct TemplateValue {
  bool is_number = true;
  int64_t number = 0;
  std::string text;
};
using TemplateValues = std::map<std::string, TemplateValue>;

// The text with "{name}", "{name+N}" and "{name-N}" replaced. False, with
// the reason, for an unknown name, arithmetic on a text or a stray brace.
bool ExpandText(std::string_view text, const TemplateValues& values, std::string& out, std::string& error);

// The JSON value with every string in it expanded; a string that is one
// whole placeholder of a number becomes that number. Strings that are one
// whole placeholder named in `kept` stay as they are.
bool ExpandJson(const nlohmann::json& in, const TemplateValues& values, nlohmann::json& out, std::string& error,
                const std::vector<std::string>& kept = {});

// Whether a transcript line matches a scenario's line, where "{secs}"
// stands for an elapsed time as the tool prints it (digits, a point, three
// digits). False with `error` set when the pattern itself is wrong.
bool MatchLine(std::string_view pattern, std::string_view line, const TemplateValues& values, std::string& error);

#endif  // K27_KIT_TEMPLATE_TEXT_H_
