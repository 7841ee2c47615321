#include "command_line.h"

#include <cwctype>

namespace {

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
  return text;
}

// The switch's name without its "/" or "-", lower case; empty when the
// argument is not a switch.
std::wstring SwitchName(const std::wstring& arg) {
  if (arg.size() < 2 || (arg[0] != L'/' && arg[0] != L'-')) return {};
  return Lower(arg.substr(1));
}

bool IsKnownSwitch(const std::wstring& arg) {
  static const wchar_t* const kNames[] = {L"embedding", L"regserver", L"regserverperuser", L"unregserver",
                                          L"unregserverperuser", L"bench", L"journal", L"force"};
  const std::wstring name = SwitchName(arg);
  for (const wchar_t* known : kNames) {
    if (name == known) return true;
  }
  return false;
}

SimCommand Mistake(const std::wstring& what) {
  SimCommand command;
  command.error = what;
  return command;
}

}  // namespace

const char* UsageText() {
  return "usage: k27sim /RegServer [/bench FILE] [/journal FILE] [/force]   register for every user\n"
         "       k27sim /RegServerPerUser [/bench FILE] [/journal FILE] [/force]   register for this user\n"
         "       k27sim /UnregServer | /UnregServerPerUser   remove that registration\n";
}

SimCommand ParseCommandLine(const std::vector<std::wstring>& args) {
  SimCommand command;
  bool embedding = false;
  bool mode_given = false;
  bool help = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::wstring& arg = args[i];
    const std::wstring name = SwitchName(arg);
    if (name.empty()) return Mistake(L"unexpected argument \"" + arg + L"\"");
    const bool has_value = i + 1 < args.size();
    if (name == L"embedding") {
      embedding = true;
    } else if (name == L"regserver" || name == L"regserverperuser" || name == L"unregserver" ||
               name == L"unregserverperuser") {
      if (mode_given) return Mistake(L"more than one of the switches " + arg);
      mode_given = true;
      command.mode = name.rfind(L"un", 0) == 0 ? SimMode::kUnregister : SimMode::kRegister;
      command.scope = name.ends_with(L"peruser") ? RegistrationScope::kUser : RegistrationScope::kMachine;
    } else if (name == L"bench" || name == L"journal") {
      // A switch where the file should be is a forgotten file, not a file.
      if (!has_value || args[i + 1].empty() || IsKnownSwitch(args[i + 1])) return Mistake(arg + L" needs a file");
      std::wstring& value = name == L"bench" ? command.bench : command.journal;
      if (!value.empty()) return Mistake(arg + L" given twice");
      value = args[++i];
    } else if (name == L"force") {
      command.force = true;
    } else if (name == L"?" || name == L"h" || name == L"help") {
      help = true;
    } else {
      return Mistake(L"unknown switch " + arg);
    }
  }
  const bool with_files = !command.bench.empty() || !command.journal.empty();
  if (help) {
    SimCommand usage;
    return usage;
  }
  if (!mode_given) {
    if (embedding) command.mode = SimMode::kServe;
    else if (with_files || command.force) return Mistake(L"/bench, /journal and /force go with /RegServer");
    return command;
  }
  if (embedding) return Mistake(L"-Embedding is for COM alone");
  if (command.mode != SimMode::kRegister && (with_files || command.force)) {
    // Unregistering removes what a simulator wrote and nothing else, so
    // there is nothing for /force to do there.
    return Mistake(L"/bench, /journal and /force go with /RegServer or /RegServerPerUser only");
  }
  return command;
}

std::wstring QuoteArgument(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
  std::wstring quoted = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    // Backslashes count only before a quote: there they are doubled.
    quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, L'\\');
  quoted += L'"';
  return quoted;
}

std::wstring ServerCommandLine(const std::wstring& exe) {
  // Always quoted: unquoted, a path with a blank in it would be read by COM
  // as a shorter program name.
  return L"\"" + exe + L"\"";
}

std::wstring CommandLineProgram(const std::wstring& command_line) {
  size_t start = command_line.find_first_not_of(L" \t");
  if (start == std::wstring::npos) return {};
  if (command_line[start] == L'"') {
    const size_t end = command_line.find(L'"', start + 1);
    return command_line.substr(start + 1, end == std::wstring::npos ? std::wstring::npos : end - start - 1);
  }
  const std::wstring lower = Lower(command_line);
  for (size_t at = lower.find(L".exe", start); at != std::wstring::npos; at = lower.find(L".exe", at + 1)) {
    const size_t after = at + 4;
    if (after == lower.size() || lower[after] == L' ' || lower[after] == L'\t') {
      return command_line.substr(start, after - start);
    }
  }
  const size_t end = command_line.find_first_of(L" \t", start);
  return command_line.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
}

std::wstring ProgramFileName(const std::wstring& command_line) {
  const std::wstring program = CommandLineProgram(command_line);
  const size_t slash = program.find_last_of(L"\\/");
  return Lower(slash == std::wstring::npos ? program : program.substr(slash + 1));
}
