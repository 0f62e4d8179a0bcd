#include "support/fault_file_system.h"

namespace vok::test {

namespace {

class FaultReadable : public ReadableFile {
 public:
  FaultReadable(FaultFileSystem* fs, std::unique_ptr<ReadableFile> base, std::string path)
      : fs_(fs), base_(std::move(base)), path_(std::move(path)) {}
  Status Read(size_t n, char* buf, size_t* got) override {
    *got = 0;
    return fs_->Pass("Read", path_, false, [&] { return base_->Read(n, buf, got); });
  }
  Status Seek(int64_t offset) override {
    return fs_->Pass("Seek", path_, false, [&] { return base_->Seek(offset); });
  }
  int64_t Size() const override { return base_->Size(); }
  int64_t Tell() const override { return base_->Tell(); }

 private:
  FaultFileSystem* fs_;
  std::unique_ptr<ReadableFile> base_;
  std::string path_;
};

class FaultScratch : public ScratchFile {
 public:
  FaultScratch(FaultFileSystem* fs, std::unique_ptr<ScratchFile> base, std::string folder)
      : fs_(fs), base_(std::move(base)), path_(std::move(folder)) {}
  Status Append(std::string_view data) override {
    return fs_->Pass("Append", path_, true, [&] { return base_->Append(data); });
  }
  Status Sync() override { return fs_->Pass("Sync", path_, true, [&] { return base_->Sync(); }); }
  Status Close() override {
    return fs_->Pass("Close", path_, false, [&] { return base_->Close(); });
  }
  Status SetOwner(uint32_t uid, uint32_t gid) override {
    return fs_->Pass("SetOwner", path_, true, [&] { return base_->SetOwner(uid, gid); });
  }
  Status SetMode(uint32_t mode) override {
    return fs_->Pass("ScratchMode", path_, true, [&] { return base_->SetMode(mode); });
  }
  Status Publish(const std::string& path) override {
    Status s = fs_->Pass("Publish", path, true, [&] { return base_->Publish(path); });
    if (s.ok()) path_ = path;
    return s;
  }

 private:
  FaultFileSystem* fs_;
  std::unique_ptr<ScratchFile> base_;
  std::string path_;
};

}  // namespace

int FaultFileSystem::Calls(const std::string& op) const {
  auto it = calls_.find(op);
  return it == calls_.end() ? 0 : it->second;
}

Status FaultFileSystem::Pass(const std::string& op, const std::string& path, bool mutation,
                             const std::function<Status()>& call) {
  ++calls_[op];
  log_.push_back(op);
  if (down_) return Status::FromErrno(EIO);
  bool crash = false;
  if (mutation) {
    ++mutations_;
    crash = crash_countdown_ > 0 && --crash_countdown_ == 0;
  }
  Status s = Status::OK();
  for (Rule& r : rules_) {
    if (r.op != op || r.times == 0 || path.find(r.path_part) == std::string::npos) continue;
    if (r.skip > 0) {
      --r.skip;
    } else {
      if (r.times > 0) --r.times;
      s = Status::FromErrno(r.err);
      break;
    }
  }
  if (s.ok()) s = call();
  if (crash) {
    Crash();
    down_ = true;
  }
  return s;
}

Status FaultFileSystem::OpenForRead(const std::string& path, std::unique_ptr<ReadableFile>* file) {
  std::unique_ptr<ReadableFile> base;
  Status s = Pass("OpenForRead", path, false, [&] { return base_->OpenForRead(path, &base); });
  if (s.ok()) *file = std::make_unique<FaultReadable>(this, std::move(base), path);
  return s;
}

Status FaultFileSystem::CreateScratch(const std::string& folder,
                                      std::unique_ptr<ScratchFile>* file) {
  std::unique_ptr<ScratchFile> base;
  Status s =
      Pass("CreateScratch", folder, false, [&] { return base_->CreateScratch(folder, &base); });
  if (s.ok()) *file = std::make_unique<FaultScratch>(this, std::move(base), folder);
  return s;
}

}  // namespace vok::test
