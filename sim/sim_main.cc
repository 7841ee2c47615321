// k27sim: the bench simulator, a COM local server that stands in for the
// device server. It registers itself (k27sim /RegServer, see
// command_line.h); COM then starts it once per creation with the bench and
// the journal written in its registration. It plays that bench (or its
// own), journals every call, and ends itself when its client has let go of
// everything or is gone. A shared bench is played by one process for every
// creation instead (shared_server.h).
//
// It is a windowless program so that COM never opens a console window for
// it; the switches a person runs print to the console or stream they were
// run from.

#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "bench/bench.h"
#include "bench/bench_file.h"
#include "bench/bench_state.h"
#include "bench/classes_root_win.h"
#include "bench/register_win.h"
#include "bench/registration.h"
#include "client_watch.h"
#include "command_line.h"
#include "journal.h"
#include "k27server.h"
#include "lib/arguments.h"
#include "lib/long_path.h"
#include "lib/switch_output.h"
#include "lib/wide_text.h"
#include "server_objects.h"
#include "server_state.h"
#include "shared_server.h"

namespace {

// Time to wait for the one creation COM started the server for.
constexpr DWORD kFirstCreationWaitMs = 30000;

[[noreturn]] void EndServer(DWORD cookie, const char* reason) {
  CoRevokeClassObject(cookie);
  JournalWrite({{"op", "Exit"}, {"reason", reason}});
  // Lets the reply to the client's last release leave before the process goes.
  Sleep(100);
  ExitProcess(0);
}

// Whether this server may stand where COM started it: not for a user whose
// own registration of the simulator outranks a device server registered for
// the whole machine (unless forced over it).
ServeDecision ServingDecision() {
  std::unique_ptr<ClassesRoot> user = OpenClassesRoot(RegistrationScope::kUser);
  const auto machine = OpenMachineClassesRoots();
  return DecideServing(*user, Pointers(machine));
}

int Serve(const SimCommand& command) {
  // Started by COM, the bench and the journal are those its registration
  // names beside the command line; started by hand, those given.
  RegisteredFiles files{command.bench, command.journal, command.state};
  if (files.bench.empty() && files.journal.empty() && files.state.empty()) files = FilesOfThisServer();
  OpenJournal(files.journal);
  LoadBench(files.bench);
  const ServeDecision decision = ServingDecision();
  if (!decision.serve) State().refusal = Utf8(decision.reason);
  nlohmann::json start = {{"op", "Start"},
                          {"bench", files.bench.empty() ? nlohmann::json(nullptr) : nlohmann::json(Utf8(files.bench))},
                          {"command_line", Utf8(GetCommandLineW())}};
  if (!State().bench_ok) start["error"] = State().bench_error;
  if (!decision.serve) start["refusing"] = Utf8(decision.reason);
  else if (!decision.reason.empty()) start["forced"] = Utf8(decision.reason);
  // A shared bench remembers its devices where the registration says, or
  // beside the journal.
  if (State().shared) {
    ServeShared(start, !files.state.empty()     ? files.state
                       : files.journal.empty() ? L""
                                               : StatePathBesideJournal(files.journal));
  }
  JournalWrite(start);

  if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 2;
  HoldInterfaces();
  DWORD cookie = 0;
  // Single use: every creation starts a fresh server, and no registration
  // outlives the one creation.
  const HRESULT hr = CoRegisterClassObject(CLSID_DeviceServerClass, ServerFactory(), CLSCTX_LOCAL_SERVER,
                                           REGCLS_SINGLEUSE, &cookie);
  if (FAILED(hr)) {
    JournalWrite({{"op", "Exit"}, {"reason", "class registration failed"}, {"hresult", HresultText(hr)}});
    return 2;
  }
  const ULONGLONG deadline = GetTickCount64() + kFirstCreationWaitMs;
  for (;;) {
    // The client once known; until then the process behind the creation.
    HANDLE client = ClientProcess();
    HANDLE watched = client ? client : CreatingProcess();
    HANDLE waits[4] = {AllReleasedEvent(), RefusedEvent(), WatchChangedEvent(), watched};
    DWORD timeout = INFINITE;
    if (!AnyObjectCreated()) {
      const ULONGLONG now = GetTickCount64();
      timeout = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
    }
    const DWORD woke = WaitForMultipleObjects(watched ? 4 : 3, waits, FALSE, timeout);
    if (woke == WAIT_OBJECT_0) EndServer(cookie, "released");
    if (woke == WAIT_OBJECT_0 + 1) EndServer(cookie, "refused");
    if (woke == WAIT_OBJECT_0 + 3) EndServer(cookie, client ? "client gone" : "creator gone");
    if (woke == WAIT_TIMEOUT && !AnyObjectCreated()) EndServer(cookie, "never created");
    if (woke == WAIT_FAILED) EndServer(cookie, "wait failed");
  }
}

int Usage(const SimCommand& command) {
  if (!command.error.empty()) WriteLine(OutputStream::kErr, "k27sim: " + Utf8(command.error));
  WriteText(OutputStream::kErr, UsageText());
  return 2;
}

}  // namespace

int main() {
  const SimCommand command = ParseCommandLine(CommandLineArguments());
  switch (command.mode) {
    case SimMode::kServe:
      return Serve(command);
    case SimMode::kRegister:
      return RunRegistration(command, ThisProgram());
    case SimMode::kUnregister:
      return RunUnregistration(command);
    case SimMode::kUsage:
      break;
  }
  return Usage(command);
}
