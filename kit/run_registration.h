#ifndef K27_KIT_RUN_REGISTRATION_H_
#define K27_KIT_RUN_REGISTRATION_H_

// The simulator's registration for one qualification run: refused on a PC
// where the device server is registered to anything but a simulator;
// written for this user where that works, machine-wide where this process
// does not use per-user classes (an elevated prompt on Windows; Wine); proved
// by a creation of the kit's own; pointed at each scenario's bench and
// journal; and put back as it was found when the run ends, whatever the
// reason it ends. Restore may be called from another thread (the console's
// Ctrl+C handler); it runs once.

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "bench/registration.h"

class QualificationRegistration {
 public:
  QualificationRegistration(std::wstring simulator, std::wstring proxy);
  ~QualificationRegistration();

  // Refuses (false, with why) when the device server's class or interfaces
  // are registered to another program anywhere; otherwise remembers every
  // key a registration may write, for this user and for the machine.
  bool Prepare(std::string& error);

  // Registers and proves it with a creation, playing a bench of its own in
  // `folder`. `said` tells where it was registered and why there.
  bool RegisterAndProve(const std::wstring& folder, std::string& said, std::string& error);

  // Points the registration at a scenario's bench and journal.
  bool Point(const std::wstring& bench, const std::wstring& journal, std::string& error);

  // Every key as it was before Prepare. False, with what was left, when a
  // key could not be put back.
  bool Restore(std::string& said);

  // "HKCU\Software\Classes" or "HKLM\Software\Classes"; empty before.
  std::wstring RootName() const;

 private:
  bool Register(RegistrationScope scope, const std::wstring& bench, const std::wstring& journal, long& error);
  // Creates the server, asks its version and lets go; true when the
  // simulator registered with `bench` answered.
  bool Prove(const std::wstring& bench, const std::wstring& journal, std::string& why);

  std::wstring simulator_, proxy_;
  CRITICAL_SECTION lock_;
  bool prepared_ = false, restored_ = false, user_root_existed_ = true;
  std::unique_ptr<RegistrationSnapshot> user_, machine_;
  // The files registered before, for this user and for the machine.
  std::vector<RegisteredFiles> found_;
  std::unique_ptr<ClassesRoot> root_;  // where the run registered
  RegistrationScope scope_ = RegistrationScope::kUser;
};

#endif  // K27_KIT_RUN_REGISTRATION_H_
