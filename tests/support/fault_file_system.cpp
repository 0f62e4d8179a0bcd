#include "support/fault_file_system.h"

namespace vok::test {

namespace {

class FaultWritableFile : public WritableFile {
 public:
  FaultWritableFile(FaultFileSystem* fs, std::unique_ptr<WritableFile> base)
      : fs_(fs), base_(std::move(base)) {}
  Status Append(std::string_view data) override {
    Status s = fs_->BeforeWrite();
    return s.ok() ? base_->Append(data) : s;
  }
  Status Sync() override { return base_->Sync(); }
  Status Close() override { return base_->Close(); }

 private:
  FaultFileSystem* fs_;
  std::unique_ptr<WritableFile> base_;
};

}  // namespace

void FaultFileSystem::FailOp(const std::string& op, int err, const std::string& path_part) {
  rules_.push_back({op, err, path_part});
}

void FaultFileSystem::FailNthWrite(int n, int err) {
  writes_until_failure_ = n;
  write_failure_errno_ = err;
}

int FaultFileSystem::Calls(const std::string& op) const {
  auto it = calls_.find(op);
  return it == calls_.end() ? 0 : it->second;
}

std::optional<Status> FaultFileSystem::Injected(const std::string& op, const std::string& path) {
  ++calls_[op];
  for (const Rule& r : rules_) {
    if (r.op == op && path.find(r.path_part) != std::string::npos) return Status::FromErrno(r.err);
  }
  return std::nullopt;
}

Status FaultFileSystem::BeforeWrite() {
  ++calls_["Append"];
  if (writes_until_failure_ > 0 && --writes_until_failure_ == 0) {
    return Status::FromErrno(write_failure_errno_);
  }
  return Status::OK();
}

Status FaultFileSystem::OpenForRead(const std::string& path, std::unique_ptr<ReadableFile>* file) {
  if (auto s = Injected("OpenForRead", path)) return *s;
  return base_->OpenForRead(path, file);
}

Status FaultFileSystem::OpenForWrite(const std::string& path, WriteMode mode,
                                     std::unique_ptr<WritableFile>* file) {
  if (auto s = Injected("OpenForWrite", path)) return *s;
  std::unique_ptr<WritableFile> base;
  Status s = base_->OpenForWrite(path, mode, &base);
  if (s.ok()) *file = std::make_unique<FaultWritableFile>(this, std::move(base));
  return s;
}

Status FaultFileSystem::GetLinkInfo(const std::string& path, FileInfo* info) {
  if (auto s = Injected("GetLinkInfo", path)) return *s;
  return base_->GetLinkInfo(path, info);
}

Status FaultFileSystem::GetInfo(const std::string& path, FileInfo* info) {
  if (auto s = Injected("GetInfo", path)) return *s;
  return base_->GetInfo(path, info);
}

Status FaultFileSystem::SetMode(const std::string& path, uint32_t mode) {
  if (auto s = Injected("SetMode", path)) return *s;
  return base_->SetMode(path, mode);
}

Status FaultFileSystem::Remove(const std::string& path) {
  if (auto s = Injected("Remove", path)) return *s;
  return base_->Remove(path);
}

Status FaultFileSystem::CheckRemovable(const std::string& path) {
  if (auto s = Injected("CheckRemovable", path)) return *s;
  return base_->CheckRemovable(path);
}

Status FaultFileSystem::Rename(const std::string& from, const std::string& to) {
  if (auto s = Injected("Rename", to)) return *s;
  return base_->Rename(from, to);
}

Status FaultFileSystem::FindFirst(const std::string& pattern, FindKind kind, std::string* found) {
  if (auto s = Injected("FindFirst", pattern)) return *s;
  if (everything_exists_) {
    *found = pattern;
    return Status::OK();
  }
  return base_->FindFirst(pattern, kind, found);
}

std::string FaultFileSystem::TempPath() {
  ++calls_["TempPath"];
  return temp_path_ ? *temp_path_ : base_->TempPath();
}

}  // namespace vok::test
