#include "platform/env.h"

#include <chrono>
#include <functional>
#include <mutex>
#include <random>

#include "platform/clock.h"
#include "platform/network.h"
#include "platform/posix_file_system.h"
#include "platform/libreoffice_automation.h"
#include "platform/posix_profile_store.h"
#include "platform/processes.h"
#include "platform/random.h"
#include "platform/sqlite_registry.h"
#include "platform/windowing.h"
#include "voktools/host.h"

namespace vok {

namespace {
thread_local Env* current_env = nullptr;
thread_local std::function<void()> message_pump;
thread_local std::function<void(const std::string&)> warning_sink;
thread_local std::function<void(const std::string&, const std::string&)> message_box_hook;

class SteadyClock : public Clock {
 public:
  uint64_t MonotonicTicks() override {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
  }
};

class StdRandom : public Random {
 public:
  explicit StdRandom(Clock& clock) {
    // Two processes started in one clock tick still draw different numbers.
    std::random_device entropy;
    const uint64_t ticks = clock.MonotonicTicks();
    std::seed_seq seed{entropy(), entropy(), static_cast<uint32_t>(ticks),
                       static_cast<uint32_t>(ticks >> 32)};
    engine_.seed(seed);
  }
  uint32_t Next() override {
    std::lock_guard lock(mutex_);
    return static_cast<uint32_t>(engine_());
  }

 private:
  std::mutex mutex_;
  std::mt19937 engine_;
};

}  // namespace

Clock& SystemClock() {
  static SteadyClock clock;
  return clock;
}

OfficeAutomation& SystemOffice() {
  // When the suite is missing, each call says what to install.
  static LibreOfficeAutomation office(OfficeSettings::FromEnvironment());
  return office;
}

Random& SystemRandom() {
  static StdRandom random(SystemClock());
  return random;
}

MountTable& SystemMountTable() {
  static ProcMountTable mounts;
  return mounts;
}

ShareList& SystemShareList() {
  static SambaShareList shares;
  return shares;
}

MachineInfo& SystemMachineInfo() {
  static PosixMachineInfo machine;
  return machine;
}

Env& Env::Default() {
  static PosixFileSystem fs(SystemRandom());
  static PosixProfileStore profile(&fs);
  static SqliteRegistry registry(SqliteRegistry::DefaultFile());
  static PosixProcesses processes;
  static HeadlessWindowing windowing;
  static Env env{&fs, &profile, &windowing, &registry, &processes, &SystemClock(),
                 &SystemRandom()};
  return env;
}

Env& CurrentEnv() { return current_env != nullptr ? *current_env : Env::Default(); }

ScopedEnv::ScopedEnv(Env& env) : previous_(current_env) { current_env = &env; }
ScopedEnv::~ScopedEnv() { current_env = previous_; }

void SetMessagePump(std::function<void()> pump) { message_pump = std::move(pump); }

void PumpMessages() {
  if (message_pump) message_pump();
}

void SetWarningSink(std::function<void(const std::string&)> sink) { warning_sink = std::move(sink); }

void Warn(const std::string& text) {
  if (warning_sink) warning_sink(text);
}

void SetMessageBoxHook(std::function<void(const std::string&, const std::string&)> hook) {
  message_box_hook = std::move(hook);
}

void Windowing::MessageBox(const std::string& text, const std::string& title) {
  if (message_box_hook) {
    message_box_hook(text, title);
  } else {
    Warn(title + ": " + text);
  }
}

}  // namespace vok
