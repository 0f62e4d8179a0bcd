// clsGetTempFileName: a fresh candidate name in the temporary folder on every
// read of Filename, "VOK" + four hex digits + ".TMP". It only finds a name; a
// caller creates the file exclusively and draws again if that fails.
#pragma once

#include <string>

#include "voktools/dispatch.h"

namespace vok {

struct Env;

class clsGetTempFileName : public Dispatch {
 public:
  clsGetTempFileName();
  explicit clsGetTempFileName(Env& env);

  std::string Filename();
  // The temporary folder, ending in a separator.
  const std::string& Folder() const { return folder_; }

  const ClassTypeInfo& TypeInfo() const override;

 protected:
  Variant DoInvoke(const MemberInfo& member, InvokeKind kind, std::vector<Variant>& args) override;

 private:
  Env& env_;
  std::string folder_;
};

}  // namespace vok
