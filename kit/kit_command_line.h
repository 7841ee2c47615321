#ifndef K27_KIT_KIT_COMMAND_LINE_H_
#define K27_KIT_KIT_COMMAND_LINE_H_

// The bench kit's console program, what a person types on a bench PC:
//
//   k27kit qualify PROGRAM [--junit FILE] [--keep DIR] [--only NAME]...
//                  [--catalogue DIR]... [--stop-at-first-failure]
//   k27kit qualify [PROGRAM] --list [--catalogue DIR]...
//   k27kit check BENCH
//   k27kit default-bench
//   k27kit state FILE [--reset]
//   k27kit register [--per-user] [--bench FILE] [--journal FILE] [--state FILE] [--force]
//   k27kit unregister [--per-user]
//   k27kit help
//
// An option starts with "--" or "/", in any case.

#include <string>
#include <vector>

#include "bench/registration.h"

enum class KitMode { kUsage, kHelp, kQualify, kCheck, kDefaultBench, kState, kRegister, kUnregister };

struct KitCommand {
  KitMode mode = KitMode::kUsage;
  std::wstring program;             // qualify: the k27prog.exe to qualify
  std::wstring junit;               // --junit FILE
  std::wstring keep;                // --keep DIR
  std::vector<std::wstring> only;   // --only NAME, each
  std::vector<std::wstring> catalogues;
  bool list = false;
  bool stop_at_first_failure = false;
  std::wstring bench_file;          // check
  std::wstring state_file;          // state
  bool reset = false;               // state --reset
  RegistrationRequest registration;  // register, unregister: as k27sim takes them
  std::wstring error;               // why the command line was not understood
};

KitCommand ParseKitCommandLine(const std::vector<std::wstring>& args);

const char* KitUsageText();

#endif  // K27_KIT_KIT_COMMAND_LINE_H_
