// The platform services one object works with. Every class takes the current
// Env when it is created; tests install their doubles with ScopedEnv.
#pragma once

namespace vok {

class Clock;
class FileSystem;
class LanguageListService;
class ProfileStore;
class Processes;
class Random;
class Registry;
class Windowing;
class MountTable;
class ShareList;
class MachineInfo;
class OfficeAutomation;

Clock& SystemClock();
Random& SystemRandom();
LanguageListService& CatalogueLanguages();
MountTable& SystemMountTable();
ShareList& SystemShareList();
MachineInfo& SystemMachineInfo();
OfficeAutomation& SystemOffice();

struct Env {
  FileSystem* fs = nullptr;
  ProfileStore* profile = nullptr;
  Windowing* windowing = nullptr;
  Registry* registry = nullptr;
  Processes* processes = nullptr;
  // The system's own unless a test fixes them.
  Clock* clock = &SystemClock();
  Random* random = &SystemRandom();
  LanguageListService* languages = &CatalogueLanguages();  // null: no service
  // The mounts of this process, the machine's shares, its name and version.
  MountTable* mounts = &SystemMountTable();
  ShareList* shares = &SystemShareList();
  MachineInfo* machine = &SystemMachineInfo();
  // Office applications (word processor, presentations, workbooks).
  OfficeAutomation* office = &SystemOffice();

  // The real platform: POSIX files, INI files in the profile folder, the
  // registry store of the user, no screen, the system's clock and random
  // numbers.
  static Env& Default();
};

// The Env for objects created now on this thread.
Env& CurrentEnv();

// Makes env current on this thread for its lifetime.
class ScopedEnv {
 public:
  explicit ScopedEnv(Env& env);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  Env* previous_;
};

}  // namespace vok
