#include "voktools/temp_file_name.h"

#include <atomic>
#include <chrono>
#include <cstdio>

#include "platform/env.h"
#include "platform/file_system.h"
#include "voktools/automation_error.h"

namespace vok {

namespace {

constexpr int kMaxAttempts = 1000;
// Where names go when the system reports no temporary folder at all.
constexpr const char* kFallbackFolder = "/tmp/";

uint32_t TimerSeed() {
  static std::atomic<uint32_t> counter{0};
  auto ticks = std::chrono::high_resolution_clock::now().time_since_epoch().count();
  // Objects made within one timer tick still draw different sequences.
  return static_cast<uint32_t>(ticks) ^ (static_cast<uint32_t>(ticks >> 32) * 2654435761u) ^
         (counter.fetch_add(1) * 0x9E3779B9u);
}

}  // namespace

clsGetTempFileName::clsGetTempFileName() : clsGetTempFileName(CurrentEnv()) {}

clsGetTempFileName::clsGetTempFileName(Env& env) : env_(env) {
  for (int attempt = 0; attempt < kMaxAttempts && folder_.empty(); ++attempt) {
    folder_ = env_.fs->TempPath();
  }
  if (folder_.empty()) folder_ = kFallbackFolder;
  if (folder_.back() != '/' && folder_.back() != '\\') folder_ += '/';
  rng_.seed(TimerSeed());
}

std::string clsGetTempFileName::Filename() {
  std::uniform_real_distribution<double> uniform(0.0, 1.0);
  std::string name;
  int attempts = 0;
  while (name.empty()) {
    int r = static_cast<int>(uniform(rng_) * 65536) - 32768;
    char hex[8];
    std::snprintf(hex, sizeof hex, "%04X", static_cast<unsigned>(static_cast<uint16_t>(r)));
    name = folder_ + "VOK" + hex + ".TMP";
    std::string found;
    if (env_.fs->FindFirst(name, FindKind::kFiles, &found).ok()) name.clear();
    if (++attempts >= kMaxAttempts) name = folder_ + "VOK0000.TMP";
  }
  return name;
}

const ClassTypeInfo& clsGetTempFileName::TypeInfo() const {
  using T = MemberTable<clsGetTempFileName>;
  static const ClassTypeInfo info{
      "clsGetTempFileName",
      {T::Get("Filename", 1, VarType::kText, &clsGetTempFileName::Filename)}};
  return info;
}

}  // namespace vok
