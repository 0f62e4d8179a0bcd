// A private folder under a fresh name in the temporary folder, removed with
// the files named through it.
#pragma once

#include <cerrno>
#include <string>
#include <vector>

#include "platform/env.h"
#include "platform/file_system.h"
#include "voktools/temp_file_name.h"

namespace vok::cli {

class PrivateFolder {
 public:
  PrivateFolder() {
    FileSystem& fs = *CurrentEnv().fs;
    clsGetTempFileName names;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
      const std::string name = names.Filename();
      const Status s = fs.CreateFolder(name, 0700);
      if (s.ok()) path_ = name + "/";
      if (s.code() != EEXIST) break;
    }
  }
  ~PrivateFolder() {
    if (path_.empty()) return;
    FileSystem& fs = *CurrentEnv().fs;
    for (const std::string& file : files_) {
      // A copy of a read-only page is read-only too, and such a file is not
      // removed as it stands.
      (void)fs.SetMode(file, 0600);
      (void)fs.Remove(file);
    }
    (void)fs.RemoveFolder(path_);
  }
  // Empty when no folder could be made.
  const std::string& path() const { return path_; }
  // The path of a file in the folder, removed with it.
  std::string File(const std::string& name) {
    files_.push_back(path_ + name);
    return files_.back();
  }

 private:
  // A name is taken by a folder now and then; every draw taken means
  // something else is wrong.
  static constexpr int kAttempts = 100;
  std::string path_;
  std::vector<std::string> files_;
};

}  // namespace vok::cli
