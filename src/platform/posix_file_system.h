#pragma once

#include "platform/file_system.h"
#include "platform/random.h"

namespace vok {

// The real file system. Paths pass through NativePath first.
class PosixFileSystem : public FileSystem {
 public:
  // Private scratch names are drawn from random. unnamed_scratch false:
  // scratch files always get a private name, as on file systems without
  // unnamed files (for the tests of that path).
  explicit PosixFileSystem(Random& random = SystemRandom(), bool unnamed_scratch = true)
      : random_(random), unnamed_scratch_(unnamed_scratch) {}

  Status OpenForRead(const std::string& path, std::unique_ptr<ReadableFile>* file) override;
  Status GetInfo(const std::string& path, FileInfo* info) override;
  Status GetLinkInfo(const std::string& path, FileInfo* info) override;
  Status ResolveLink(const std::string& path, std::string* resolved) override;
  Status SetMode(const std::string& path, uint32_t mode) override;
  Status SetOwner(const std::string& path, uint32_t uid, uint32_t gid) override;
  Status Remove(const std::string& path) override;
  Status CheckRemovable(const std::string& path) override;
  Status Rename(const std::string& from, const std::string& to) override;
  Status RenameNoReplace(const std::string& from, const std::string& to) override;
  Status CreateScratch(const std::string& folder, std::unique_ptr<ScratchFile>* file) override;
  Status KeepPrivateLink(const std::string& path, std::string* private_name) override;
  Status CreateFolder(const std::string& path, uint32_t mode) override;
  Status RemoveFolder(const std::string& path) override;
  Status Lock(const std::string& path, LockWait wait, std::unique_ptr<FileLock>* lock) override;
  Status SyncFolder(const std::string& folder) override;
  void NewFileDefaults(uint32_t* uid, uint32_t* gid, uint32_t* mode) override;
  Status FindFirst(const std::string& pattern, FindKind kind, std::string* found) override;
  std::string TempPath() override;

 private:
  Random& random_;
  bool unnamed_scratch_;
};

}  // namespace vok
