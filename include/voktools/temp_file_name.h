// clsGetTempFileName: a fresh candidate name in the temporary folder on every
// read of Filename, "VOK" + four hex digits + ".TMP". It only finds a name; a
// caller creates the file exclusively and draws again if that fails.
#pragma once

#include <string>

#include "voktools/dispatch.h"
#include "voktools/export.h"

namespace vok {

struct Env;

VOK_PUBLIC_BEGIN

class clsGetTempFileName : public Dispatch {
 public:
  clsGetTempFileName();

  std::string Filename();
  // The temporary folder, ending in a separator.
  const std::string& Folder() const { return folder_; }

  const ClassTypeInfo& TypeInfo() const override;

 private:
  // The library and its tests construct on a given environment (WithEnv).
  template <class T>
  friend struct WithEnv;
  VOK_LOCAL explicit clsGetTempFileName(Env& env);

  Env& env_;
  std::string folder_;
};

VOK_PUBLIC_END

}  // namespace vok
