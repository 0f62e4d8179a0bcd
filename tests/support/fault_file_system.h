// A file system that passes every call to the real one unless told to fail
// it: a chosen operation on a chosen path, or the nth write from now.
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

  // Calls of op ("Rename", "Remove", "CheckRemovable",
  // "OpenForRead", "SetMode", "FindFirst", "GetInfo", "CreateFolder", "Lock",
  // "CreateScratch" with the folder, and on a scratch file "Sync",
  // "SetOwner", "ScratchMode" and "Publish" with its target) whose path
  // contains path_part fail with errno err.
  // With skip, the first skip such calls go through.
  void FailOp(const std::string& op, int err, const std::string& path_part = "", int skip = 0);
  // The nth Append from now (1 = the next) fails with err, on any file.
  void FailNthWrite(int n, int err);
  // What TempPath answers.
  void SetTempPath(std::optional<std::string> path) { temp_path_ = std::move(path); }
  // Every FindFirst answers "found".
  void SetEverythingExists(bool on) { everything_exists_ = on; }
  int Calls(const std::string& op) const;
  // Every call so far, in order.
  const std::vector<std::string>& Log() const { return log_; }
  // Runs just before a scratch file is published over its target (a test
  // ends the process there, as a crash would).
  void SetBeforePublish(std::function<void(const std::string& target)> hook) {
    before_publish_ = std::move(hook);
  }

  Status OpenForRead(const std::string& path, std::unique_ptr<ReadableFile>* file) override;
  Status GetInfo(const std::string& path, FileInfo* info) override;
  Status GetLinkInfo(const std::string& path, FileInfo* info) override;
  Status ResolveLink(const std::string& path, std::string* resolved) override;
  Status SetMode(const std::string& path, uint32_t mode) override;
  Status SetOwner(const std::string& path, uint32_t uid, uint32_t gid) override;
  Status CreateScratch(const std::string& folder, std::unique_ptr<ScratchFile>* file) override;
  Status KeepPrivateLink(const std::string& path, std::string* private_name) override;
  Status CreateFolder(const std::string& path, uint32_t mode) override;
  Status RemoveFolder(const std::string& path) override;
  Status Lock(const std::string& path, LockWait wait, std::unique_ptr<FileLock>* lock) override;
  Status SyncFolder(const std::string& folder) override;
  void NewFileDefaults(uint32_t* uid, uint32_t* gid, uint32_t* mode) override;
  Status Remove(const std::string& path) override;
  Status CheckRemovable(const std::string& path) override;
  Status Rename(const std::string& from, const std::string& to) override;
  Status RenameNoReplace(const std::string& from, const std::string& to) override;
  Status FindFirst(const std::string& pattern, FindKind kind, std::string* found) override;
  std::string TempPath() override;

  // Used by the files this system hands out.
  Status BeforeWrite();
  std::optional<Status> Injected(const std::string& op, const std::string& path);
  void BeforePublish(const std::string& target) {
    if (before_publish_) before_publish_(target);
  }

 private:
  struct Rule {
    std::string op;
    int err;
    std::string path_part;
    int skip;
  };

  FileSystem* base_;
  std::function<void(const std::string&)> before_publish_;
  std::vector<Rule> rules_;
  std::map<std::string, int> calls_;
  std::vector<std::string> log_;
  int writes_until_failure_ = 0;
  int write_failure_errno_ = 0;
  std::optional<std::string> temp_path_;
  bool everything_exists_ = false;
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
