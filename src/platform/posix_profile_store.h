#pragma once

#include <string>

#include "platform/profile_store.h"

namespace vok {

class FileSystem;

// INI files as users of Windows profile files know them: section and key names
// compared without regard to ASCII case, blanks around names and values
// trimmed, a value in matching double quotes returned without them, comment
// lines kept. Relative names resolve in the profile folder. Writes go through
// a temporary file and a rename under an advisory lock on the folder.
class PosixProfileStore : public ProfileStore {
 public:
  explicit PosixProfileStore(FileSystem* fs) : fs_(fs) {}

  std::string GetString(const std::string& section, const std::string& key,
                        const std::string& default_value, const std::string& file,
                        size_t buffer_chars) override;
  bool WriteString(const std::string& section, const std::string& key, const std::string& value,
                   const std::string& file) override;

  // $VOKTOOLS_WINDIR, else ${XDG_CONFIG_HOME:-$HOME/.config}/voktools; ends in '/'.
  static std::string ProfileFolder();
  // Where file lives: absolute names as they are, others in ProfileFolder().
  static std::string Resolve(const std::string& file);

 private:
  FileSystem* fs_;
};

}  // namespace vok
