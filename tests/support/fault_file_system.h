// A file system that passes every call to another one (the real one, or the
// in-memory double) and fails the calls it is told to fail.
//
// Each call is counted and logged under its operation name, and matched
// against the failure rules by a path:
//   file system: its method's name; the path is the argument, for Rename
//     the target, for CreateScratch the folder, for FindFirst the pattern;
//   read file: "Read", "Seek" (the path it was opened by);
//   scratch file: "Append", "Sync", "Close", "SetOwner", "ScratchMode",
//     "Publish" (its folder; for Publish, and once published, the target).
//
// Crashes: calls that change what is on disk count as mutations (Append,
// Sync, both SetOwner, ScratchMode, Publish, SetMode, Rename, Remove,
// KeepPrivateLink, CreateFolder, SyncFolder; failed ones too). CrashAfter(k)
// lets the k-th mutation from now take effect and then crashes: Crash() makes
// the base forget what a crash loses, and from there every call fails with
// EIO and changes nothing, as if the process had died, until Restart. No
// exception is thrown: the code under test unwinds through its own error
// paths.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/env.h"
#include "platform/file_system.h"
#include "platform/posix_file_system.h"
#include "platform/posix_profile_store.h"
#include "platform/random.h"
#include "platform/windowing.h"

namespace vok::test {

class FaultFileSystem : public FileSystem {
 public:
  explicit FaultFileSystem(FileSystem* base) : base_(base) {}

  // Calls of op whose path contains path_part fail with errno err, after the
  // first skip such calls go through.
  void FailOp(const std::string& op, int err, const std::string& path_part = "", int skip = 0) {
    rules_.push_back({op, err, path_part, skip, -1});
  }
  // The nth Append from now (1 = the next) fails with err, on any file; the
  // others go through.
  void FailNthWrite(int n, int err) { rules_.push_back({"Append", err, "", n - 1, 1}); }
  // What TempPath answers instead of the base.
  void SetTempPath(std::optional<std::string> path) { temp_path_ = std::move(path); }
  // Every FindFirst answers "found".
  void SetEverythingExists(bool on) { everything_exists_ = on; }
  int Calls(const std::string& op) const;
  // Every call so far, in order.
  const std::vector<std::string>& Log() const { return log_; }

  int Mutations() const { return mutations_; }
  void CrashAfter(int k) { crash_countdown_ = k; }
  bool crashed() const { return down_; }
  // What the base forgets in a crash: nothing for a real file system.
  virtual void Crash() {}
  // The calls work again, as after a reboot; the mutation count restarts.
  void Restart() { down_ = false, crash_countdown_ = 0, mutations_ = 0; }

  Status OpenForRead(const std::string& path, std::unique_ptr<ReadableFile>* file) override;
  Status CreateScratch(const std::string& folder, std::unique_ptr<ScratchFile>* file) override;
  Status GetInfo(const std::string& p, FileInfo* info) override {
    return Pass("GetInfo", p, false, [&] { return base_->GetInfo(p, info); });
  }
  Status GetLinkInfo(const std::string& p, FileInfo* info) override {
    return Pass("GetLinkInfo", p, false, [&] { return base_->GetLinkInfo(p, info); });
  }
  Status ResolveLink(const std::string& p, std::string* resolved) override {
    return Pass("ResolveLink", p, false, [&] { return base_->ResolveLink(p, resolved); });
  }
  Status SetMode(const std::string& p, uint32_t mode) override {
    return Pass("SetMode", p, true, [&] { return base_->SetMode(p, mode); });
  }
  Status SetOwner(const std::string& p, uint32_t uid, uint32_t gid) override {
    return Pass("SetOwner", p, true, [&] { return base_->SetOwner(p, uid, gid); });
  }
  Status Remove(const std::string& p) override {
    return Pass("Remove", p, true, [&] { return base_->Remove(p); });
  }
  Status CheckRemovable(const std::string& p) override {
    return Pass("CheckRemovable", p, false, [&] { return base_->CheckRemovable(p); });
  }
  Status Rename(const std::string& from, const std::string& to) override {
    return Pass("Rename", to, true, [&] { return base_->Rename(from, to); });
  }
  Status RenameNoReplace(const std::string& from, const std::string& to) override {
    return Pass("RenameNoReplace", to, true, [&] { return base_->RenameNoReplace(from, to); });
  }
  Status KeepPrivateLink(const std::string& p, std::string* name) override {
    return Pass("KeepPrivateLink", p, true, [&] { return base_->KeepPrivateLink(p, name); });
  }
  Status CreateFolder(const std::string& p, uint32_t mode) override {
    return Pass("CreateFolder", p, true, [&] { return base_->CreateFolder(p, mode); });
  }
  Status RemoveFolder(const std::string& p) override {
    return Pass("RemoveFolder", p, true, [&] { return base_->RemoveFolder(p); });
  }
  Status Lock(const std::string& p, LockWait wait, std::unique_ptr<FileLock>* lock) override {
    return Pass("Lock", p, false, [&] { return base_->Lock(p, wait, lock); });
  }
  Status SyncFolder(const std::string& p) override {
    return Pass("SyncFolder", p, true, [&] { return base_->SyncFolder(p); });
  }
  void NewFileDefaults(uint32_t* uid, uint32_t* gid, uint32_t* mode) override {
    base_->NewFileDefaults(uid, gid, mode);
  }
  Status FindFirst(const std::string& pattern, FindKind kind, std::string* found) override {
    return Pass("FindFirst", pattern, false, [&] {
      if (!everything_exists_) return base_->FindFirst(pattern, kind, found);
      *found = pattern;
      return Status::OK();
    });
  }
  std::string TempPath() override {
    ++calls_["TempPath"];
    return temp_path_ ? *temp_path_ : base_->TempPath();
  }

  // Counts and logs a call of op on path, and runs it unless a rule fails
  // it or the process has crashed; a mutation may be the one to crash after.
  Status Pass(const std::string& op, const std::string& path, bool mutation,
              const std::function<Status()>& call);

 protected:
  FileSystem* base_;

 private:
  struct Rule {
    std::string op;
    int err;
    std::string path_part;
    int skip;
    int times;  // failures left; -1: every matching call
  };

  std::vector<Rule> rules_;
  std::map<std::string, int> calls_;
  std::vector<std::string> log_;
  std::optional<std::string> temp_path_;
  bool everything_exists_ = false;
  int mutations_ = 0;
  int crash_countdown_ = 0;
  bool down_ = false;
};

// A screen of fixed size.
class FixedScreen : public Windowing {
 public:
  FixedScreen(double w, double h) : size_{w, h} {}
  std::optional<ScreenSize> Screen() override { return size_; }

 private:
  ScreenSize size_;
};

// Draws the given numbers in turn, then the last one again and again.
class SequenceRandom : public Random {
 public:
  explicit SequenceRandom(std::vector<uint32_t> numbers) : numbers_(std::move(numbers)) {}
  uint32_t Next() override {
    const uint32_t n = numbers_.at(next_);
    if (next_ + 1 < numbers_.size()) ++next_;
    return n;
  }

 private:
  std::vector<uint32_t> numbers_;
  size_t next_ = 0;
};

// The real platform seen through a FaultFileSystem, current while it lives.
struct TestEnv {
  PosixFileSystem posix;
  FaultFileSystem fs{&posix};
  PosixProfileStore profile{&fs};
  HeadlessWindowing headless;
  Env env{&fs, &profile, &headless};
  ScopedEnv scope{env};
};

}  // namespace vok::test
