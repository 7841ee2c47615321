#ifndef K27_BENCH_REGISTRATION_H_
#define K27_BENCH_REGISTRATION_H_

// The simulator's registration as a COM local server, and the rules that
// keep it from ever passing for the vendor's device server: it refuses to
// register over a registration that is not a simulator's (unless forced,
// and then it keeps what it displaced), and it removes only what a simulator
// wrote, putting back anything it displaced.
//
// What is written, under a root of classes (HKLM\Software\Classes for every
// user, HKCU\Software\Classes for one):
//   CLSID\{server class}                      (default) = kClassDescription
//                                             kBenchValueName = full path of the bench (when one is given)
//                                             kJournalValueName = full path of the journal (when one is given)
//                                             kStateValueName = full path of a shared bench's state file (when one is given)
//   CLSID\{server class}\LocalServer32        (default) = "EXE"
//   Interface\{iid}                           (default) = interface name      (each of three)
//   Interface\{iid}\NumMethods                (default) = its method count
//   Interface\{iid}\ProxyStubClsid32          (default) = {proxy class}
//   CLSID\{proxy class}                       (default) = "PSFactoryBuffer"
//   CLSID\{proxy class}\InProcServer32        (default) = full path of k27ps.dll
//                                             ThreadingModel = "Both"
// and, for a registration forced over another program's registration of the
// class for the whole machine:
//   CLSID\{server class}                      kForcedOverName = what it was forced over
//
// A class whose LocalServer32 names k27sim.exe is still another program's
// when a ServerExecutable value names another program (COM starts that one)
// or the class has an AppID (which may have COM start a service instead).
// A forced registration puts those aside too.

#include <guiddef.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "bench/proxy_class.h"

// Machine-wide (every user; needs administrator rights on Windows) or the
// current user's own classes.
enum class RegistrationScope { kMachine, kUser };

// The registration's command line for COM: the server's full path, quoted.
std::wstring ServerCommandLine(const std::wstring& exe);

// The program that a registration's command line starts: the quoted path,
// or the text up to the first ".exe " or the end, as COM reads it.
std::wstring CommandLineProgram(const std::wstring& command_line);

// Its file name alone ("k27sim.exe"), lower case.
std::wstring ProgramFileName(const std::wstring& command_line);

// What a registration is asked for: where, the bench and the journal the
// server is to take from it (empty: none), and whether over another
// program's registration of the class.
struct RegistrationRequest {
  RegistrationScope scope = RegistrationScope::kMachine;
  std::wstring bench;
  std::wstring journal;
  bool force = false;
  // A shared bench's state file, where not beside the journal.
  std::wstring state;
};

// A registry value: its type and its bytes, as the registry keeps them.
struct RegValue {
  uint32_t type = 1;  // REG_SZ
  std::vector<uint8_t> data;
  bool operator==(const RegValue&) const = default;
};
RegValue StringValue(const std::wstring& text);
// The text of a REG_SZ or REG_EXPAND_SZ value, without its terminator.
std::optional<std::wstring> ValueText(const RegValue& value);

// One root of classes, in one registry view. Key paths are relative to it,
// separated by backslashes. Writes create the keys they need. Errors are
// Win32 error codes, 0 for success.
class ClassesRoot {
 public:
  virtual ~ClassesRoot() = default;
  virtual std::wstring Name() const = 0;  // "HKLM\Software\Classes", for messages
  virtual bool KeyExists(const std::wstring& key) = 0;
  virtual std::optional<RegValue> Read(const std::wstring& key, const std::wstring& name) = 0;
  virtual long Write(const std::wstring& key, const std::wstring& name, const RegValue& value) = 0;
  virtual long DeleteValue(const std::wstring& key, const std::wstring& name) = 0;
  // The names of the key's values (the default value as ""); none when the
  // key does not exist.
  virtual std::vector<std::wstring> ValueNames(const std::wstring& key) = 0;
  // True when the key holds no value and no subkey.
  virtual bool KeyIsEmpty(const std::wstring& key) = 0;
  virtual long DeleteEmptyKey(const std::wstring& key) = 0;
};

// A class or interface id as the registry names it: "{AF3D8AC6-...}".
std::wstring RegistryGuid(const GUID& guid);
constexpr GUID kProxyClass = K27_PROXY_CLASS;
inline const std::wstring kProxyClassText = RegistryGuid(kProxyClass);
constexpr wchar_t kClassDescription[] = L"K27 bench simulator (k27sim), not a device server";
constexpr wchar_t kServerFileName[] = L"k27sim.exe";
constexpr wchar_t kProxyFileName[] = L"k27ps.dll";

// The value name under which a forced registration keeps the value it
// replaced, so that unregistering can put it back.
std::wstring DisplacedName(const std::wstring& name);

// The value of the simulator's class key that records which programs'
// registrations for the whole machine a forced registration went over, one
// a line (ForeignServerPrograms).
constexpr wchar_t kForcedOverName[] = L"k27sim forced over";

// The bench and the journal travel beside the command line, not in it, so
// that the command line COM starts the server with stays as short as the
// program's own path, wherever the files are.
constexpr wchar_t kBenchValueName[] = L"k27sim bench";
constexpr wchar_t kJournalValueName[] = L"k27sim journal";
constexpr wchar_t kStateValueName[] = L"k27sim state";

// Wine's COM starts no server whose command line, with the quotes and the
// " -Embedding" it adds, reaches 260 characters: under Wine a longer path is
// registered in its short (8.3) form. Windows documents no such limit.
constexpr size_t kLongestWineServerPath = 246;
// The longest path registered at all: neither Windows nor Wine starts a
// program, or loads a proxy DLL, from a path of 260 characters or more
// (Wine not even by its short form).
constexpr size_t kLongestStartablePath = 259;

// How a registration gives COM a program's path (the simulator's or its
// proxy's): as it is wherever that starts, by its short form only under
// Wine and past Wine's limit, or not at all.
enum class PathForm { kAsItIs, kShortForm, kTooLong };
PathForm RegisteredPathForm(size_t length, bool under_wine);

struct RegistrationPaths {
  std::wstring exe;    // full path of k27sim.exe
  std::wstring proxy;  // full path of k27ps.dll
  std::wstring bench;  // full path, or empty for the built-in bench
  std::wstring journal;
  // Forced over these (ForeignServerPrograms of the machine's roots): kept
  // under kForcedOverName. Empty: no such record.
  std::vector<std::wstring> forced_over = {};
  std::wstring state = {};  // full path, or empty: beside the journal
};

// The bench and journal that the simulator's registration in the root gives
// its server: empty where it names none, or the class is not a simulator's.
struct RegisteredFiles {
  std::wstring bench;
  std::wstring journal;
  std::wstring state = {};
  bool operator==(const RegisteredFiles&) const = default;
};
RegisteredFiles RegisteredBenchAndJournal(ClassesRoot& root);

// The files of the registration that COM started this server by. A server
// whose process runs above medium integrity was started for an elevated
// client, for which COM ignores the user's own classes: it reads the
// machine's alone, so that a user's values never steer an elevated server.
// Otherwise COM looked in the user's classes first, then the machine's. The
// files are those of the first of these registrations that names this very
// program (`is_this_program` of its registered path) in its LocalServer32:
// never values without one beside them. Empty when none does: a server
// started by hand plays the built-in bench.
RegisteredFiles ServedFiles(bool above_medium_integrity, ClassesRoot& user, ClassesRoot& machine,
                            const std::function<bool(const std::wstring&)>& is_this_program);

// A registration in the root that is not a simulator's, described for the
// operator ("the device server's class ... is registered to ..."); nothing
// when the root holds none.
std::optional<std::wstring> ForeignRegistration(ClassesRoot& root);

// What the device server's class is registered to start in each root
// where another program holds it: the program, or its AppID.
std::vector<std::wstring> ForeignServerPrograms(const std::vector<ClassesRoot*>& roots);

// Writes the registration. Over a foreign one (only when forced) each value
// replaced, and each value that would have COM start another program, is
// kept under DisplacedName first. Returns 0 or the first error; on an error
// what was written so far is removed again.
long WriteRegistration(ClassesRoot& root, const RegistrationPaths& paths);

struct Removal {
  long error = 0;
  bool removed = false;                 // a simulator's registration was there and is gone
  std::vector<std::wstring> left_alone;  // foreign registrations, untouched
};

// Every key a registration may write under the root, whether it was there,
// and each value it held: what a qualification run puts back when it ends,
// whatever it registered in between.
struct RegistrationSnapshot {
  struct Key {
    std::wstring path;
    bool existed = false;
    std::vector<std::pair<std::wstring, RegValue>> values;
  };
  std::vector<Key> keys;
};
RegistrationSnapshot TakeRegistrationSnapshot(ClassesRoot& root);

// Puts every value of those keys back as it was, removes values and keys
// that were not there, and leaves every other key alone. Returns 0 or the
// first error (and goes on with the rest).
long RestoreRegistrationSnapshot(ClassesRoot& root, const RegistrationSnapshot& snapshot);

// Removes a simulator's registration: values a simulator wrote (or puts back
// what it displaced), then the keys it leaves empty. Foreign keys are left
// alone, named in the result.
Removal RemoveRegistration(ClassesRoot& root);

// Whether a simulator started by COM may serve. On Windows a user's own
// registration of a class outranks the machine's, so a simulator registered
// for one user and forgotten stands in for a device server installed for the
// whole machine later: it must refuse every creation then, unless its
// registration was forced over exactly the programs the machine's now
// registers (a PC that never programs devices).
struct ServeDecision {
  bool serve = true;
  // Why it refuses, or what it serves over; empty when nothing is shadowed.
  std::wstring reason;
};
ServeDecision DecideServing(ClassesRoot& user, const std::vector<ClassesRoot*>& machine);

#endif  // K27_BENCH_REGISTRATION_H_
