#include "voktools/temp_file_name.h"

#include <cstdio>

#include "frame/builtin_classes.h"
#include "platform/env.h"
#include "platform/file_system.h"
#include "platform/random.h"
#include "voktools/automation_error.h"

namespace vok {

namespace {

constexpr int kMaxAttempts = 1000;
// Where names go when the system reports no temporary folder at all.
constexpr const char* kFallbackFolder = "/tmp/";

}  // namespace

clsGetTempFileName::clsGetTempFileName() : clsGetTempFileName(CurrentEnv()) {}

clsGetTempFileName::clsGetTempFileName(Env& env) : env_(env) {
  for (int attempt = 0; attempt < kMaxAttempts && folder_.empty(); ++attempt) {
    folder_ = env_.fs->TempPath();
  }
  if (folder_.empty()) folder_ = kFallbackFolder;
  if (folder_.back() != '/' && folder_.back() != '\\') folder_ += '/';
}

std::string clsGetTempFileName::Filename() {
  std::string name;
  int attempts = 0;
  while (name.empty()) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "%04X", static_cast<unsigned>(env_.random->Next() & 0xFFFF));
    name = folder_ + "VOK" + hex + ".TMP";
    std::string found;
    if (env_.fs->FindFirst(name, FindKind::kFiles, &found).ok()) name.clear();
    if (++attempts >= kMaxAttempts) name = folder_ + "VOK0000.TMP";
  }
  return name;
}

template <>
const ClassTypeInfo& detail::TypeInfoOf<clsGetTempFileName>() {
  using T = MemberTable<clsGetTempFileName>;
  static const ClassTypeInfo info{
      "clsGetTempFileName",
      {T::Get("Filename", 1, VarType::kText, &clsGetTempFileName::Filename)}};
  return info;
}

const ClassTypeInfo& clsGetTempFileName::TypeInfo() const { return detail::TypeInfoOf<clsGetTempFileName>(); }

}  // namespace vok
