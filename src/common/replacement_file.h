// A file that replaces another only when complete: written under a fresh
// name VOK????.TMP beside its target (created exclusively, never through a
// link), then moved over the target with clsCommon::MoveFile. An unfinished
// file is removed.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/file_system.h"
#include "voktools/variant.h"

namespace vok {

struct Env;

class ReplacementFile {
 public:
  ReplacementFile() = default;
  ReplacementFile(const ReplacementFile&) = delete;
  ReplacementFile& operator=(const ReplacementFile&) = delete;
  ~ReplacementFile() { Abandon(); }

  Status Start(FileSystem& fs, std::string target);
  bool started() const { return !temp_.empty(); }
  WritableFile& file() { return *file_; }
  const std::string& target() const { return target_; }
  const std::string& temp() const { return temp_; }

  // Closes the file; its status.
  Status Close();
  // Moves the closed file over the target, MoveFile adding its messages to
  // errors (a Collection, or Nothing); MoveFile's failure count. After a
  // failed move the file is removed and the target is as it was.
  int16_t Commit(Env& env, const Variant& errors = Variant::Nothing());
  // Removes the file, if one is pending.
  void Abandon();

 private:
  FileSystem* fs_ = nullptr;
  std::string target_;
  std::string temp_;
  std::unique_ptr<WritableFile> file_;
};

}  // namespace vok
