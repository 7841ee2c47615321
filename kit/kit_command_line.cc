#include "kit_command_line.h"

#include "lib/arguments.h"

namespace {

constexpr auto Mistake = &CommandMistake<KitCommand>;

bool IsOption(const std::wstring& name) {
  static const wchar_t* const kNames[] = {L"junit", L"keep",  L"only",    L"catalogue", L"list",  L"stop-at-first-failure",
                                          L"per-user", L"bench", L"journal", L"force",     L"help", L"reset", L"state",
                                          L"record", L"parallel", L"csv"};
  for (const wchar_t* known : kNames) {
    if (name == known) return true;
  }
  return false;
}

// The option's name without its "--" or "/", lower case; empty for an
// argument that is no option. "/" starts an option only when one of these
// names follows, so that a path such as /tmp/x stays a path.
std::wstring OptionName(const std::wstring& arg) {
  if (arg.size() > 2 && arg.compare(0, 2, L"--") == 0) return Lower(arg.substr(2));
  if (arg.size() > 1 && arg[0] == L'/' && IsOption(Lower(arg.substr(1)))) return Lower(arg.substr(1));
  return {};
}

}  // namespace

const char* KitUsageText() {
  return "usage: k27kit qualify PROGRAM [--junit FILE] [--keep DIR] [--only NAME]... [--catalogue DIR]...\n"
         "                      [--stop-at-first-failure]   play every scenario against PROGRAM\n"
         "       k27kit qualify [PROGRAM] --list [--catalogue DIR]...   list the scenarios\n"
         "       k27kit check BENCH   check a bench file\n"
         "       k27kit default-bench   print the simulator's built-in bench\n"
         "       k27kit state FILE [--reset]   show a shared bench's state file, or put the bench back to its start\n"
         "       k27kit register [--per-user] [--bench FILE] [--journal FILE] [--state FILE] [--force]\n"
         "                       register the simulator\n"
         "       k27kit unregister [--per-user]   remove that registration\n"
         "       k27kit station PROGRAM --record FILE [--parallel N]   run PROGRAM for each serial number typed,\n"
         "                      up to N at a time, and record every run in FILE\n"
         "       k27kit records FILE... [--csv OUT]   summarise stations' record files\n";
}

KitCommand ParseKitCommandLine(const std::vector<std::wstring>& args) {
  if (args.empty()) return {};
  const std::wstring verb = Lower(args[0]);
  KitCommand command;
  std::vector<std::wstring> plain;  // arguments that are no option
  for (size_t i = 1; i < args.size(); ++i) {
    const std::wstring name = OptionName(args[i]);
    if (name.empty()) {
      plain.push_back(args[i]);
      continue;
    }
    const bool takes_value = name == L"junit" || name == L"keep" || name == L"only" || name == L"catalogue" ||
                             name == L"bench" || name == L"journal" || name == L"state" || name == L"record" ||
                             name == L"parallel" || name == L"csv";
    const std::wstring option = args[i];
    std::wstring value;
    if (takes_value) {
      if (i + 1 >= args.size() || !OptionName(args[i + 1]).empty()) return Mistake(args[i] + L" needs a value");
      value = args[++i];
    }
    const bool qualify = verb == L"qualify";
    const bool registering = verb == L"register" || verb == L"unregister";
    if (qualify && name == L"junit") command.junit = value;
    else if (qualify && name == L"keep") command.keep = value;
    else if (qualify && name == L"only") command.only.push_back(value);
    else if (qualify && name == L"catalogue") command.catalogues.push_back(value);
    else if (qualify && name == L"list") command.list = true;
    else if (qualify && name == L"stop-at-first-failure") command.stop_at_first_failure = true;
    else if (registering && name == L"per-user") command.registration.scope = RegistrationScope::kUser;
    else if (verb == L"register" && name == L"bench") command.registration.bench = value;
    else if (verb == L"register" && name == L"journal") command.registration.journal = value;
    else if (verb == L"register" && name == L"state") command.registration.state = value;
    else if (verb == L"register" && name == L"force") command.registration.force = true;
    else if (verb == L"state" && name == L"reset") command.reset = true;
    else if (verb == L"station" && name == L"record") command.record = value;
    else if (verb == L"station" && name == L"parallel") {
      const bool digits = !value.empty() && value.size() <= 3 && value.find_first_not_of(L"0123456789") == std::wstring::npos;
      command.parallel = digits ? std::stoi(value) : 0;
      if (command.parallel < 1 || command.parallel > kMostParallel)
        return Mistake(L"--parallel takes a number of runs from 1 to " + std::to_wstring(kMostParallel));
    } else if (verb == L"records" && name == L"csv") command.csv = value;
    else return Mistake(L"\"" + option + L"\" is no option of " + verb);
  }
  if (verb == L"qualify") {
    if (plain.size() > 1) return Mistake(L"qualify takes one program");
    if (plain.empty() && !command.list) return Mistake(L"qualify needs the program to qualify (k27prog.exe)");
    if (!plain.empty()) command.program = plain[0];
    command.mode = KitMode::kQualify;
  } else if (verb == L"check") {
    if (plain.size() != 1) return Mistake(L"check takes one bench file");
    command.bench_file = plain[0];
    command.mode = KitMode::kCheck;
  } else if (verb == L"state") {
    if (plain.size() != 1) return Mistake(L"state takes one state file");
    command.state_file = plain[0];
    command.mode = KitMode::kState;
  } else if (verb == L"default-bench" || verb == L"help" || verb == L"/?" || verb == L"--help") {
    if (!plain.empty()) return Mistake(L"unexpected argument \"" + plain[0] + L"\"");
    command.mode = verb == L"default-bench" ? KitMode::kDefaultBench : KitMode::kHelp;
  } else if (verb == L"register" || verb == L"unregister") {
    if (!plain.empty()) return Mistake(L"unexpected argument \"" + plain[0] + L"\"");
    command.mode = verb == L"register" ? KitMode::kRegister : KitMode::kUnregister;
  } else if (verb == L"station") {
    if (plain.size() != 1) return Mistake(L"station takes one program (k27prog.exe)");
    if (command.record.empty()) return Mistake(L"station needs --record FILE: every run is recorded");
    command.program = plain[0];
    command.mode = KitMode::kStation;
  } else if (verb == L"records") {
    if (plain.empty()) return Mistake(L"records needs at least one record file");
    command.record_files = plain;
    command.mode = KitMode::kRecords;
  } else {
    return Mistake(L"unknown command \"" + args[0] + L"\"");
  }
  return command;
}
