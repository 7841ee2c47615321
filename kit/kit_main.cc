// k27kit: the bench kit's console program, what a person types on a bench
// PC (see kit_command_line.h): qualify a k27prog.exe against every scenario
// of the catalogue, check a bench file, print the simulator's built-in
// bench, register and unregister the simulator. A console program, so that
// cmd.exe and PowerShell wait for it and show its exit status; k27sim.exe
// beside it stays the windowless server that COM starts.

#include <windows.h>
#include <conio.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "bench/bench.h"
#include "bench/bench_file.h"
#include "bench/register_win.h"
#include "kit_command_line.h"
#include "lib/arguments.h"
#include "lib/long_path.h"
#include "lib/switch_output.h"
#include "lib/wide_text.h"
#include "qualify_command.h"
#include "records_command.h"
#include "station_command.h"
#include "state_command.h"

int main() {
  const std::vector<std::wstring> args = CommandLineArguments();
  const KitCommand command = ParseKitCommandLine(args);
  const std::wstring simulator = Folder(ThisProgram()) + L"\\" + kServerFileName;
  switch (command.mode) {
    case KitMode::kQualify:
      return RunQualify(command);
    case KitMode::kCheck: {
      const BenchVerdict verdict = CheckBenchFile(command.bench_file);
      WriteLine(verdict.ok ? OutputStream::kOut : OutputStream::kErr, verdict.line);
      return verdict.ok ? 0 : 1;
    }
    case KitMode::kDefaultBench:
      WriteText(OutputStream::kOut, DefaultBenchText());
      return 0;
    case KitMode::kState:
      return RunState(command.state_file, command.reset);
    case KitMode::kRegister:
      return RunRegistration(command.registration, simulator);
    case KitMode::kUnregister:
      return RunUnregistration(command.registration);
    case KitMode::kStation:
      return RunStation(command);
    case KitMode::kRecords:
      return RunRecords(command);
    case KitMode::kHelp:
      WriteText(OutputStream::kOut, KitUsageText());
      return 0;
    case KitMode::kUsage:
      break;
  }
  if (!command.error.empty()) WriteLine(OutputStream::kErr, "k27kit: " + Utf8(command.error));
  WriteText(OutputStream::kErr, KitUsageText());
  // Started from Explorer, the console is this program's own and closes
  // with it: keep it open until the usage has been read.
  DWORD processes[2];
  if (args.empty() && GetConsoleProcessList(processes, 2) == 1) {
    WriteLine(OutputStream::kErr, "k27kit is run from a command prompt (cmd.exe or PowerShell). Press a key to close.");
    _getch();
  }
  return 2;
}
