#include "bench/register_win.h"

#include <windows.h>
#include <aclapi.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "bench/bench_file.h"
#include "bench/classes_root_win.h"
#include "bench/registration.h"
#include "lib/long_path.h"
#include "lib/switch_output.h"
#include "lib/wide_text.h"

namespace {

std::string ScopeWords(RegistrationScope scope) {
  return scope == RegistrationScope::kMachine ? "every user of this PC" : "this user";
}

std::string ErrorText(long error) {
  wchar_t* text = nullptr;
  FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                 static_cast<DWORD>(error), 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
  std::string message = text ? Utf8(text) : std::string();
  if (text) LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == '.')) {
    message.pop_back();
  }
  return (message.empty() ? "error" : message) + " (" + std::to_string(error) + ")";
}

bool IsFolder(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(PathForFileCalls(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsFile(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(PathForFileCalls(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Opens the journal for appending, as the server will, and removes it again
// when it was not there: 0, or the system's error (a folder the user may
// not write, or one Controlled Folder Access guards, a read-only file).
DWORD JournalOpenError(const std::wstring& journal) {
  const std::wstring path = PathForFileCalls(journal);
  HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return GetLastError();
  const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
  CloseHandle(file);
  if (!existed) DeleteFileW(path.c_str());
  return 0;
}

// Whether two paths lead to the same file: a registration may hold a short
// form, another case or another route to the program.
bool SameFile(const std::wstring& a, const std::wstring& b) {
  BY_HANDLE_FILE_INFORMATION info[2];
  const std::wstring* paths[2] = {&a, &b};
  for (int i = 0; i < 2; ++i) {
    HANDLE file = CreateFileW(PathForFileCalls(*paths[i]).c_str(), 0,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const BOOL read = GetFileInformationByHandle(file, &info[i]);
    CloseHandle(file);
    if (!read) return false;
  }
  return info[0].dwVolumeSerialNumber == info[1].dwVolumeSerialNumber &&
         info[0].nFileIndexHigh == info[1].nFileIndexHigh && info[0].nFileIndexLow == info[1].nFileIndexLow;
}

// Wine, the lab the kit is tested in, names itself in ntdll; Windows does not.
bool UnderWine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

// Whether this process runs above medium integrity: elevated, or a service.
// When the level cannot be read it is taken as above, the side on which a
// user's own values steer nothing.
bool AboveMediumIntegrity() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return true;
  DWORD size = 0;
  GetTokenInformation(token, TokenIntegrityLevel, nullptr, 0, &size);
  std::vector<BYTE> label(size);
  bool above = true;
  if (size && GetTokenInformation(token, TokenIntegrityLevel, label.data(), size, &size)) {
    PSID sid = reinterpret_cast<const TOKEN_MANDATORY_LABEL*>(label.data())->Label.Sid;
    above = *GetSidSubAuthority(sid, *GetSidSubAuthorityCount(sid) - 1) > SECURITY_MANDATORY_MEDIUM_RID;
  }
  CloseHandle(token);
  return above;
}

// Whether every user of the PC may create files in the folder, as a server
// registered for every user runs as whoever runs the tool and writes its
// journal and arrays there: judged by the access list, in its order, for the
// groups every signed-in user belongs to. 1 yes, 0 no, or -1 with `error`.
int EveryUserMayCreateFiles(const std::wstring& folder, DWORD& error) {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  error = GetNamedSecurityInfoW(PathForFileCalls(folder).c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                nullptr, &dacl, nullptr, &descriptor);
  if (error != ERROR_SUCCESS) return -1;
  int answer = dacl ? 0 : 1;  // no access list at all lets everyone in
  BYTE sids[4][SECURITY_MAX_SID_SIZE];
  const WELL_KNOWN_SID_TYPE everyone[4] = {WinWorldSid, WinAuthenticatedUserSid, WinBuiltinUsersSid,
                                           WinInteractiveSid};
  for (int i = 0; i < 4; ++i) {
    DWORD size = SECURITY_MAX_SID_SIZE;
    CreateWellKnownSid(everyone[i], nullptr, sids[i], &size);
  }
  GENERIC_MAPPING files = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
  for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
    ACE_HEADER* ace = nullptr;
    if (!GetAce(dacl, i, reinterpret_cast<void**>(&ace)) || (ace->AceFlags & INHERIT_ONLY_ACE)) continue;
    if (ace->AceType != ACCESS_ALLOWED_ACE_TYPE && ace->AceType != ACCESS_DENIED_ACE_TYPE) continue;
    // Both kinds lay out their mask and SID alike.
    auto* entry = reinterpret_cast<ACCESS_ALLOWED_ACE*>(ace);
    DWORD mask = entry->Mask;
    MapGenericMask(&mask, &files);
    bool theirs = false;
    for (auto& sid : sids) theirs = theirs || EqualSid(&entry->SidStart, sid);
    if (!theirs || !(mask & FILE_ADD_FILE)) continue;
    // The first entry that speaks of it decides, as Windows reads the list.
    answer = ace->AceType == ACCESS_ALLOWED_ACE_TYPE ? 1 : 0;
    break;
  }
  LocalFree(descriptor);
  return answer;
}

// What a registration for every user must say of its journal's folder.
std::string JournalFolderNote(const std::wstring& folder) {
  DWORD error = 0;
  switch (EveryUserMayCreateFiles(folder, error)) {
    case 0:
      return "; note: not every user of this PC may create files in " + Utf8(folder) +
             ": the server runs as whoever runs the tool, and the runs of those who may not write there leave no "
             "journal";
    case 1:
      return "; note: every user of this PC may create files in " + Utf8(folder) +
             ", so any of them can put a journal or array files there ahead of a run: for a journal no one else "
             "can forge, choose a folder that only the bench's users may write";
    default:
      return "; note: who else may write in " + Utf8(folder) + " cannot be read: " + ErrorText(static_cast<long>(error));
  }
}

int Refuse(const std::string& why) {
  WriteLine(OutputStream::kErr, "k27sim: not registered: " + why);
  return 1;
}

}  // namespace

std::wstring ForeignRegistrationAnywhere() {
  for (RegistrationScope scope : {RegistrationScope::kMachine, RegistrationScope::kUser}) {
    for (bool view_32bit : {false, true}) {
      if (auto described = ForeignRegistration(*OpenClassesRoot(scope, view_32bit))) return *described;
    }
  }
  return {};
}

std::wstring RegistrablePath(const std::wstring& full_path, std::string& refusal) {
  const std::string said = Utf8(full_path) + " is " + std::to_string(full_path.size()) + " characters long";
  switch (RegisteredPathForm(full_path.size(), UnderWine())) {
    case PathForm::kAsItIs:
      return full_path;
    case PathForm::kTooLong:
      refusal = said + ": Windows starts no program, and loads no DLL, from a path of " +
                std::to_string(kLongestStartablePath + 1) + " characters or more (" +
                ErrorText(ERROR_FILENAME_EXCED_RANGE) + "); move the kit to a shorter folder";
      return {};
    case PathForm::kShortForm:
      break;
  }
  const std::string wine = said + ": under Wine, whose COM starts no server from a command line of " +
                           std::to_string(kLongestStartablePath + 1) +
                           " characters or more (the path, its quotes and \" -Embedding\"), it is registered by its "
                           "short (8.3) form, ";
  std::wstring short_path(kLongestStartablePath + 1, L'\0');
  const DWORD length = GetShortPathNameW(full_path.c_str(), short_path.data(), static_cast<DWORD>(short_path.size()));
  if (length == 0) {
    refusal = wine + "which cannot be had: " + ErrorText(static_cast<long>(GetLastError())) +
              "; move the kit to a shorter folder";
    return {};
  }
  // A short form never outgrows the long one; one that did not fit is no shorter.
  short_path.resize(length < short_path.size() ? length : 0);
  if (short_path.empty() || short_path.size() > kLongestWineServerPath) {
    refusal = wine + "and this volume gives it none short enough; move the kit to a shorter folder";
    return {};
  }
  return short_path;
}

RegisteredFiles FilesOfThisServer() {
  const std::wstring program = ThisProgram();
  std::unique_ptr<ClassesRoot> user = OpenClassesRoot(RegistrationScope::kUser);
  std::unique_ptr<ClassesRoot> machine = OpenClassesRoot(RegistrationScope::kMachine);
  return ServedFiles(AboveMediumIntegrity(), *user, *machine,
                     [&](const std::wstring& registered) { return SameFile(registered, program); });
}

int RunRegistration(const RegistrationRequest& command, const std::wstring& simulator) {
  RegistrationPaths paths;
  const std::wstring proxy = Folder(simulator) + L"\\" + kProxyFileName;
  if (!IsFile(proxy)) return Refuse(Utf8(proxy) + " is missing: k27ps.dll must sit beside k27sim.exe");
  std::string refusal;
  paths.exe = RegistrablePath(simulator, refusal);
  if (!paths.exe.empty()) paths.proxy = RegistrablePath(proxy, refusal);
  if (paths.exe.empty() || paths.proxy.empty()) return Refuse(refusal);
  if (!command.bench.empty()) {
    paths.bench = FullPath(command.bench);
    const BenchVerdict verdict = CheckBenchFile(paths.bench);
    if (!verdict.ok) return Refuse(verdict.line);
  }
  if (!command.journal.empty()) {
    paths.journal = FullPath(command.journal);
    if (IsFolder(paths.journal)) return Refuse(Utf8(paths.journal) + " is a folder, not a journal file");
    if (!IsFolder(Folder(paths.journal))) return Refuse("the journal's folder " + Utf8(Folder(paths.journal)) +
                                                        " does not exist");
    if (const DWORD error = JournalOpenError(paths.journal)) {
      return Refuse("the journal " + Utf8(paths.journal) + " cannot be written: " + ErrorText(error));
    }
  }
  if (!command.state.empty()) {
    paths.state = FullPath(command.state);
    if (IsFolder(paths.state)) return Refuse(Utf8(paths.state) + " is a folder, not a state file");
    if (!IsFolder(Folder(paths.state))) return Refuse("the state file's folder " + Utf8(Folder(paths.state)) +
                                                      " does not exist");
  }
  const std::wstring foreign = ForeignRegistrationAnywhere();
  if (!foreign.empty() && !command.force) {
    return Refuse(Utf8(foreign) +
                  ". The bench simulator must never stand in for a device server on a PC that programs real "
                  "devices (a forced registration replaces it all the same)");
  }
  if (!foreign.empty()) {
    // Recorded, so that a simulator COM starts for this user knows it was
    // forced over the machine's device server (DecideServing).
    paths.forced_over = ForeignServerPrograms(Pointers(OpenMachineClassesRoots()));
  }
  std::unique_ptr<ClassesRoot> root = OpenClassesRoot(command.scope);
  if (const long error = WriteRegistration(*root, paths)) {
    std::string why = "cannot write " + Utf8(root->Name()) + ": " + ErrorText(error);
    if (error == ERROR_ACCESS_DENIED && command.scope == RegistrationScope::kMachine) {
      why += "; run it as administrator, or register for this user only";
    }
    return Refuse(why);
  }
  std::string line = "k27sim: registered " + Utf8(paths.exe) + " for " + ScopeWords(command.scope) +
                     " (bench: " + (paths.bench.empty() ? std::string("built-in") : Utf8(paths.bench)) +
                     ", journal: " + (paths.journal.empty() ? std::string("none") : Utf8(paths.journal)) +
                     (paths.state.empty() ? std::string() : ", state: " + Utf8(paths.state)) + ")";
  if (!foreign.empty() && command.scope == RegistrationScope::kMachine) {
    line += "; forced over " + Utf8(foreign) + ", which unregistering puts back";
  } else if (!foreign.empty()) {
    line += "; forced over " + Utf8(foreign) + ": until this user's registration is removed, this user's runs "
            "reach the simulator instead";
  }
  if (!paths.journal.empty() && command.scope == RegistrationScope::kMachine) line += JournalFolderNote(Folder(paths.journal));
  WriteLine(OutputStream::kOut, line);
  return 0;
}

int RunUnregistration(const RegistrationRequest& command) {
  std::unique_ptr<ClassesRoot> root = OpenClassesRoot(command.scope);
  const Removal removal = RemoveRegistration(*root);
  std::string line;
  if (removal.error) {
    line = "k27sim: could not unregister the bench simulator for " + ScopeWords(command.scope) + ": " +
           ErrorText(removal.error);
  } else if (removal.removed) {
    line = "k27sim: unregistered the bench simulator for " + ScopeWords(command.scope);
  } else {
    line = "k27sim: no bench simulator was registered for " + ScopeWords(command.scope);
  }
  for (const std::wstring& other : removal.left_alone) line += "; left alone: " + Utf8(other);
  WriteLine(removal.error ? OutputStream::kErr : OutputStream::kOut, line);
  return removal.error ? 1 : 0;
}
