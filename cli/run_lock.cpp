#include "run_lock.h"

#include <algorithm>
#include <cerrno>
#include <ostream>
#include <utility>

#include "file_guard.h"
#include "platform/env.h"
#include "platform/file_system.h"

namespace vok::cli {

namespace {

// The folder a path names a file in, as the library reads the name.
std::string FolderOfPath(const std::string& name) {
  const std::string path = NativePath(name);
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

FolderLocks::FolderLocks() : FolderLocks(*CurrentEnv().fs) {}
FolderLocks::FolderLocks(FileSystem& fs) : fs_(fs) {}

FolderLocks::~FolderLocks() { Release(); }

void FolderLocks::Release() { locks_.clear(); }

void FolderLocks::Acquire(const std::vector<std::string>& paths, std::ostream& err) {
  // One lock per folder, taken in the order of (device, inode).
  std::vector<std::pair<std::pair<uint64_t, uint64_t>, std::string>> folders;
  for (const std::string& path : paths) {
    if (path.empty()) continue;
    std::string folder = FolderOfPath(path);
    FileInfo info;
    if (!fs_.GetInfo(folder, &info).ok() || !info.is_dir) continue;
    const std::pair id(info.device, info.inode);
    if (std::any_of(folders.begin(), folders.end(), [&](const auto& f) { return f.first == id; })) {
      continue;
    }
    folders.emplace_back(id, std::move(folder));
  }
  std::sort(folders.begin(), folders.end());
  bool said = false;
  for (const auto& [id, folder] : folders) {
    std::unique_ptr<FileLock> lock;
    Status s = fs_.Lock(folder, LockWait::kNoWait, &lock);
    if (s.code() == EWOULDBLOCK) {
      if (!said) {
        err << "voktools: waiting for another voktools run in the same folder to finish\n";
        err.flush();
        said = true;
      }
      s = fs_.Lock(folder, LockWait::kWait, &lock);
    }
    if (s.ok()) locks_.push_back(std::move(lock));
  }
}

}  // namespace vok::cli
