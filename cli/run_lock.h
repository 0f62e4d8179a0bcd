// Runs of the command that rewrite files in the same folder take turns: a
// run holds an exclusive lock on each folder it reads or writes documents
// in, from its checks (does an output exist already?) to its last
// replacement, so that a second run sees the first one's results, never its
// half-way state. The locks are advisory locks on the folders themselves:
// no lock file is made, and a killed run leaves none behind.
#pragma once

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

namespace vok {
class FileLock;
class FileSystem;
}  // namespace vok

namespace vok::cli {

class FolderLocks {
 public:
  // Locks through the current Env's file system.
  FolderLocks();
  explicit FolderLocks(FileSystem& fs);
  FolderLocks(const FolderLocks&) = delete;
  FolderLocks& operator=(const FolderLocks&) = delete;
  ~FolderLocks();

  // Locks the folders of paths, always in the same order (so that two runs
  // never wait on each other), waiting for other runs as long as they take;
  // says so on err, once, when it has to wait. A folder that cannot be
  // opened or locked (a file system without locks) is passed over: the
  // operations themselves report what they cannot do there.
  void Acquire(const std::vector<std::string>& paths, std::ostream& err);
  void Release();

 private:
  FileSystem& fs_;
  std::vector<std::unique_ptr<FileLock>> locks_;
};

}  // namespace vok::cli
