#include "run_registration.h"

#include <objbase.h>

#include <nlohmann/json.hpp>

#include "bench/bench_state.h"
#include "bench/classes_root_win.h"
#include "bench/register_win.h"
#include "journal_lines.h"
#include "k27server.h"
#include "lib/com_text.h"
#include "lib/file_bytes.h"
#include "lib/reject.h"
#include "lib/wide_text.h"

namespace {

// What the proof's bench answers to GetVersion: no device server's version.
constexpr unsigned short kProofMajor = 27;
constexpr unsigned short kProofMinor = 2701;

bool UserClassesExist() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

// Windows always has the user's root of classes; a fresh Wine prefix has
// none until something writes one. One the run made goes again.
void RemoveUserClassesIfEmpty() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, KEY_READ, &key) != ERROR_SUCCESS) return;
  DWORD subkeys = 1, values = 1;
  RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr, nullptr,
                   nullptr);
  RegCloseKey(key);
  if (subkeys == 0 && values == 0) RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Classes");
}

bool JournalNames(const std::wstring& journal, const std::wstring& bench) {
  for (const nlohmann::json& line : ReadJournalLines(std::filesystem::path(journal))) {
    if (line.value("op", "") == "Start" && line.value("bench", "") == Utf8(bench)) return true;
  }
  return false;
}

bool JournalEnded(const std::wstring& journal) {
  for (const nlohmann::json& line : ReadJournalLines(std::filesystem::path(journal))) {
    if (line.value("op", "") == "Exit") return true;
  }
  return false;
}

// A shared bench's server, still waiting a moment for another run before
// it ends, is given every creation whatever the registration says now: a
// server playing the bench registered before is let end first.
void WaitForSharedServer(const RegisteredFiles& files) {
  const std::wstring key = !files.state.empty()   ? files.state
                           : files.journal.empty() ? files.bench
                                                   : StatePathBesideJournal(files.journal);
  if (key.empty()) return;
  HANDLE lock = OpenMutexW(SYNCHRONIZE, FALSE, SharedBenchLockName(key).c_str());
  if (!lock) return;
  constexpr DWORD kSharedServerEndMs = 5000;
  const DWORD got = WaitForSingleObject(lock, kSharedServerEndMs);
  if (got == WAIT_OBJECT_0 || got == WAIT_ABANDONED) ReleaseMutex(lock);
  CloseHandle(lock);
}

}  // namespace

QualificationRegistration::QualificationRegistration(std::wstring simulator, std::wstring proxy)
    : simulator_(std::move(simulator)), proxy_(std::move(proxy)) {
  InitializeCriticalSection(&lock_);
}

QualificationRegistration::~QualificationRegistration() { DeleteCriticalSection(&lock_); }

std::wstring QualificationRegistration::RootName() const { return root_ ? root_->Name() : std::wstring(); }

bool QualificationRegistration::Prepare(std::string& error) {
  const std::wstring foreign = ForeignRegistrationAnywhere();
  if (!foreign.empty())
    return Reject(error, Utf8(foreign) +
                             ". This PC has a device server registered: qualification registers the bench simulator "
                             "in its place, and must never do that on a PC that programs real devices. Nothing was "
                             "changed.");
  EnterCriticalSection(&lock_);
  user_root_existed_ = UserClassesExist();
  user_ = std::make_unique<RegistrationSnapshot>(TakeRegistrationSnapshot(*OpenClassesRoot(RegistrationScope::kUser)));
  machine_ = std::make_unique<RegistrationSnapshot>(
      TakeRegistrationSnapshot(*OpenClassesRoot(RegistrationScope::kMachine)));
  for (RegistrationScope scope : {RegistrationScope::kUser, RegistrationScope::kMachine})
    found_.push_back(RegisteredBenchAndJournal(*OpenClassesRoot(scope)));
  prepared_ = true;
  LeaveCriticalSection(&lock_);
  return true;
}

bool QualificationRegistration::Register(RegistrationScope scope, const std::wstring& bench, const std::wstring& journal,
                               long& error) {
  EnterCriticalSection(&lock_);
  bool ok = false;
  if (prepared_ && !restored_) {
    if (!root_ || scope_ != scope) {
      root_ = OpenClassesRoot(scope);
      scope_ = scope;
    }
    error = WriteRegistration(*root_, {simulator_, proxy_, bench, journal});
    ok = error == 0;
  } else {
    error = ERROR_CANCELLED;
  }
  LeaveCriticalSection(&lock_);
  return ok;
}

// The proving creation, on a thread of its own so that the kit never waits
// on it for ever. Freed by the thread, which may outlive the wait.
struct ProofCall {
  HRESULT created = E_FAIL, asked = E_FAIL;
  bool server = false;
  unsigned short major = 0, minor = 0;
  volatile LONG owners = 2;
};

DWORD WINAPI CallForProof(void* argument) {
  ProofCall* call = static_cast<ProofCall*>(argument);
  const HRESULT init = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  IDeviceServer* server = nullptr;
  call->created = CoCreateInstance(CLSID_DeviceServerClass, nullptr, CLSCTX_LOCAL_SERVER, IID_IDeviceServer,
                                   reinterpret_cast<void**>(&server));
  call->server = server != nullptr;
  if (SUCCEEDED(call->created) && server) {
    call->asked = server->GetVersion(&call->major, &call->minor);
    server->Release();
  }
  if (SUCCEEDED(init)) CoUninitialize();
  if (InterlockedDecrement(&call->owners) == 0) delete call;
  return 0;
}

bool QualificationRegistration::Prove(const std::wstring& bench, const std::wstring& journal, std::string& why) {
  // A creation, a call and a release: seconds at most, on any PC.
  constexpr DWORD kProofWaitMs = 60000;
  ProofCall* call = new ProofCall;
  HANDLE thread = CreateThread(nullptr, 0, CallForProof, call, 0, nullptr);
  if (!thread) {
    delete call;
    return Reject(why, "the creation could not be started (error " + std::to_string(GetLastError()) + ")");
  }
  const bool answered = WaitForSingleObject(thread, kProofWaitMs) == WAIT_OBJECT_0;
  CloseHandle(thread);
  bool proved = false;
  if (!answered) {
    why = "the creation, its GetVersion and its release got no answer within " + std::to_string(kProofWaitMs / 1000) +
          " s";
  } else if (FAILED(call->created) || !call->server) {
    why = FAILED(call->created) ? "the creation failed with " + HresultText(call->created) : "the creation gave no server";
  } else if (FAILED(call->asked)) {
    why = "the created server's GetVersion failed with " + HresultText(call->asked);
  } else if (call->major != kProofMajor || call->minor != kProofMinor || !JournalNames(journal, bench)) {
    why = "the server created is not the simulator just registered (it answered version " +
          std::to_string(call->major) + "." + std::to_string(call->minor) + ")";
  } else {
    proved = true;
  }
  if (InterlockedDecrement(&call->owners) == 0) delete call;
  if (proved) {
    // The proof's server is gone before the first scenario creates one.
    for (int i = 0; i < 50 && !JournalEnded(journal); ++i) Sleep(100);
  }
  return proved;
}

bool QualificationRegistration::RegisterAndProve(const std::wstring& folder, std::string& said, std::string& error) {
  for (const RegisteredFiles& files : found_) WaitForSharedServer(files);
  const std::wstring bench = folder + L"\\proof-bench.json";
  const std::string proof = nlohmann::json{{"comment", "k27kit: the creation that proves the registration"},
                                           {"server_version", {{"major", kProofMajor}, {"minor", kProofMinor}}},
                                           {"devices", nlohmann::json::array()}}
                                .dump() +
                            "\n";
  if (!WriteFileBytes(std::filesystem::path(bench), std::vector<uint8_t>(proof.begin(), proof.end()), error))
    return false;
  std::string user_why, machine_why;
  long written = 0;
  const std::wstring user_journal = folder + L"\\proof-user.jsonl";
  if (Register(RegistrationScope::kUser, bench, user_journal, written)) {
    if (Prove(bench, user_journal, user_why)) {
      said = "registered for this user (" + Utf8(RootName()) + "), proved by a creation";
      return true;
    }
  } else {
    user_why = "it could not be written (error " + std::to_string(written) + ")";
  }
  // This process does not use the user's classes: put them back as they
  // were and register for the machine.
  {
    EnterCriticalSection(&lock_);
    RestoreRegistrationSnapshot(*OpenClassesRoot(RegistrationScope::kUser), *user_);
    if (!user_root_existed_) RemoveUserClassesIfEmpty();
    root_.reset();
    LeaveCriticalSection(&lock_);
  }
  // Under Wine the proof for this user started the machine's registration
  // of before: a shared bench's server plays it for a moment still.
  for (const RegisteredFiles& files : found_) WaitForSharedServer(files);
  const std::wstring machine_journal = folder + L"\\proof-machine.jsonl";
  if (!Register(RegistrationScope::kMachine, bench, machine_journal, written))
    return Reject(error, "the simulator cannot be registered: for this user " + user_why + "; for every user it could "
                         "not be written (error " + std::to_string(written) + (written == ERROR_ACCESS_DENIED ? ": run "
                         "the qualification from a prompt run as administrator" : "") + ")");
  if (!Prove(bench, machine_journal, machine_why))
    return Reject(error, "the simulator was registered but cannot be created: for this user " + user_why +
                             "; for every user " + machine_why);
  said = "registered for every user (" + Utf8(RootName()) + "), proved by a creation; for this user alone " +
         user_why + ", so this process does not use per-user classes";
  return true;
}

bool QualificationRegistration::Point(const std::wstring& bench, const std::wstring& journal, std::string& error) {
  long written = 0;
  if (Register(scope_, bench, journal, written)) return true;
  error = "the registration could not be pointed at the scenario's bench (error " + std::to_string(written) + ")";
  return false;
}

bool QualificationRegistration::Restore(std::string& said) {
  EnterCriticalSection(&lock_);
  bool ok = true;
  if (prepared_ && !restored_) {
    restored_ = true;
    const long user = RestoreRegistrationSnapshot(*OpenClassesRoot(RegistrationScope::kUser), *user_);
    if (!user_root_existed_) RemoveUserClassesIfEmpty();
    const long machine = RestoreRegistrationSnapshot(*OpenClassesRoot(RegistrationScope::kMachine), *machine_);
    ok = user == 0 && machine == 0;
    said = ok ? "the registration is as it was before the qualification (HKCU\\Software\\Classes and "
                "HKLM\\Software\\Classes)"
              : "the registration could not all be put back (errors " + std::to_string(user) + ", " +
                    std::to_string(machine) + "): run k27kit unregister and k27kit unregister --per-user";
  }
  LeaveCriticalSection(&lock_);
  return ok;
}
