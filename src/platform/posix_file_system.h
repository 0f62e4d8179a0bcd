#pragma once

#include "platform/file_system.h"

namespace vok {

// The real file system. Paths pass through NativePath first.
class PosixFileSystem : public FileSystem {
 public:
  Status OpenForRead(const std::string& path, std::unique_ptr<ReadableFile>* file) override;
  Status OpenForWrite(const std::string& path, WriteMode mode,
                      std::unique_ptr<WritableFile>* file) override;
  Status GetInfo(const std::string& path, FileInfo* info) override;
  Status GetLinkInfo(const std::string& path, FileInfo* info) override;
  Status SetMode(const std::string& path, uint32_t mode) override;
  Status Remove(const std::string& path) override;
  Status CheckRemovable(const std::string& path) override;
  Status Rename(const std::string& from, const std::string& to) override;
  Status FindFirst(const std::string& pattern, FindKind kind, std::string* found) override;
  std::string TempPath() override;
};

}  // namespace vok
