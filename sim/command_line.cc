#include "command_line.h"

#include "lib/arguments.h"

namespace {

constexpr auto Mistake = &CommandMistake<SimCommand>;

// The switch's name without its "/" or "-", lower case; empty when the
// argument is not a switch.
std::wstring SwitchName(const std::wstring& arg) {
  if (arg.size() < 2 || (arg[0] != L'/' && arg[0] != L'-')) return {};
  return Lower(arg.substr(1));
}

bool IsKnownSwitch(const std::wstring& arg) {
  static const wchar_t* const kNames[] = {L"embedding", L"regserver", L"regserverperuser", L"unregserver",
                                          L"unregserverperuser", L"bench", L"journal", L"state", L"force"};
  const std::wstring name = SwitchName(arg);
  for (const wchar_t* known : kNames) {
    if (name == known) return true;
  }
  return false;
}

}  // namespace

const char* UsageText() {
  return "usage: k27sim /RegServer [/bench FILE] [/journal FILE] [/state FILE] [/force]   register for every user\n"
         "       k27sim /RegServerPerUser [/bench FILE] [/journal FILE] [/state FILE] [/force]   register for this user\n"
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
    } else if (name == L"bench" || name == L"journal" || name == L"state") {
      // A switch where the file should be is a forgotten file, not a file.
      if (!has_value || args[i + 1].empty() || IsKnownSwitch(args[i + 1])) return Mistake(arg + L" needs a file");
      std::wstring& value = name == L"bench" ? command.bench : name == L"journal" ? command.journal : command.state;
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
  const bool with_files = !command.bench.empty() || !command.journal.empty() || !command.state.empty();
  if (help) {
    SimCommand usage;
    return usage;
  }
  if (!mode_given) {
    if (embedding) command.mode = SimMode::kServe;
    else if (with_files || command.force) return Mistake(L"/bench, /journal, /state and /force go with /RegServer");
    return command;
  }
  if (embedding) return Mistake(L"-Embedding is for COM alone");
  if (command.mode != SimMode::kRegister && (with_files || command.force)) {
    // Unregistering removes what a simulator wrote and nothing else, so
    // there is nothing for /force to do there.
    return Mistake(L"/bench, /journal, /state and /force go with /RegServer or /RegServerPerUser only");
  }
  return command;
}

