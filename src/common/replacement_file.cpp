#include "common/replacement_file.h"

#include "platform/env.h"
#include "voktools/common.h"

namespace vok {

Status ReplacementFile::Start(FileSystem& fs, std::string target) {
  Abandon();
  fs_ = &fs;
  target_ = std::move(target);
  Status s = CreateUniqueFile(fs, FolderOf(target_), "VOK", ".TMP", &temp_, &file_,
                              WriteMode::kExclusiveDocument);
  if (!s.ok()) {
    temp_.clear();
    file_.reset();
  }
  return s;
}

Status ReplacementFile::Close() {
  Status s = file_->Close();
  file_.reset();
  return s;
}

int16_t ReplacementFile::Commit(Env& env, const Variant& errors) {
  file_.reset();
  clsCommon common(env);
  const int16_t failed = common.MoveFile(temp_, target_, errors);
  if (failed != 0) {
    Abandon();
  } else {
    temp_.clear();
  }
  return failed;
}

void ReplacementFile::Abandon() {
  file_.reset();
  if (temp_.empty()) return;
  (void)fs_->Remove(temp_);
  temp_.clear();
}

}  // namespace vok
