#include "support/fault_file_system.h"

namespace vok::test {

namespace {

class FaultScratchFile : public ScratchFile {
 public:
  FaultScratchFile(FaultFileSystem* fs, std::unique_ptr<ScratchFile> base)
      : fs_(fs), base_(std::move(base)) {}
  Status Append(std::string_view data) override {
    Status s = fs_->BeforeWrite();
    return s.ok() ? base_->Append(data) : s;
  }
  Status Sync() override {
    if (auto s = fs_->Injected("Sync", "")) return *s;
    return base_->Sync();
  }
  Status Close() override { return base_->Close(); }
  Status SetOwner(uint32_t uid, uint32_t gid) override {
    if (auto s = fs_->Injected("SetOwner", "")) return *s;
    return base_->SetOwner(uid, gid);
  }
  Status SetMode(uint32_t mode) override {
    if (auto s = fs_->Injected("ScratchMode", "")) return *s;
    return base_->SetMode(mode);
  }
  Status Publish(const std::string& path) override {
    fs_->BeforePublish(path);
    if (auto s = fs_->Injected("Publish", path)) return *s;
    return base_->Publish(path);
  }

 private:
  FaultFileSystem* fs_;
  std::unique_ptr<ScratchFile> base_;
};

}  // namespace

Status FaultFileSystem::CreateScratch(const std::string& folder,
                                      std::unique_ptr<ScratchFile>* file) {
  if (auto s = Injected("CreateScratch", folder)) return *s;
  std::unique_ptr<ScratchFile> base;
  Status s = base_->CreateScratch(folder, &base);
  if (s.ok()) *file = std::make_unique<FaultScratchFile>(this, std::move(base));
  return s;
}

Status FaultFileSystem::KeepPrivateLink(const std::string& path, std::string* private_name) {
  if (auto s = Injected("KeepPrivateLink", path)) return *s;
  return base_->KeepPrivateLink(path, private_name);
}

Status FaultFileSystem::RemoveFolder(const std::string& path) {
  if (auto s = Injected("RemoveFolder", path)) return *s;
  return base_->RemoveFolder(path);
}

Status FaultFileSystem::RenameNoReplace(const std::string& from, const std::string& to) {
  if (auto s = Injected("RenameNoReplace", to)) return *s;
  return base_->RenameNoReplace(from, to);
}

Status FaultFileSystem::CreateFolder(const std::string& path, uint32_t mode) {
  if (auto s = Injected("CreateFolder", path)) return *s;
  return base_->CreateFolder(path, mode);
}

Status FaultFileSystem::Lock(const std::string& path, LockWait wait,
                             std::unique_ptr<FileLock>* lock) {
  if (auto s = Injected("Lock", path)) return *s;
  return base_->Lock(path, wait, lock);
}

Status FaultFileSystem::SyncFolder(const std::string& folder) {
  if (auto s = Injected("SyncFolder", folder)) return *s;
  return base_->SyncFolder(folder);
}

void FaultFileSystem::NewFileDefaults(uint32_t* uid, uint32_t* gid, uint32_t* mode) {
  base_->NewFileDefaults(uid, gid, mode);
}

Status FaultFileSystem::ResolveLink(const std::string& path, std::string* resolved) {
  if (auto s = Injected("ResolveLink", path)) return *s;
  return base_->ResolveLink(path, resolved);
}

Status FaultFileSystem::SetOwner(const std::string& path, uint32_t uid, uint32_t gid) {
  if (auto s = Injected("SetOwner", path)) return *s;
  return base_->SetOwner(path, uid, gid);
}

void FaultFileSystem::FailOp(const std::string& op, int err, const std::string& path_part,
                             int skip) {
  rules_.push_back({op, err, path_part, skip});
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
  log_.push_back(op);
  for (Rule& r : rules_) {
    if (r.op != op || path.find(r.path_part) == std::string::npos) continue;
    if (r.skip > 0) {
      --r.skip;
      continue;
    }
    return Status::FromErrno(r.err);
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
