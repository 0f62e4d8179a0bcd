#include "platform/env.h"

#include <functional>

#include "platform/posix_file_system.h"
#include "platform/posix_profile_store.h"
#include "platform/windowing.h"
#include "voktools/host.h"

namespace vok {

namespace {
thread_local Env* current_env = nullptr;
thread_local std::function<void()> message_pump;
thread_local std::function<void(const std::string&)> warning_sink;
}  // namespace

Env& Env::Default() {
  static PosixFileSystem fs;
  static PosixProfileStore profile(&fs);
  static HeadlessWindowing windowing;
  static Env env{&fs, &profile, &windowing};
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

}  // namespace vok
