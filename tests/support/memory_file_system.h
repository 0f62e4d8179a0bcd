// A file system held in memory, with failures on demand and a model of what
// a crash keeps.
//
// Names: absolute ('/'-separated) or relative to "/"; "." and ".." are
// understood, a trailing '/' names a folder. Symbolic links are followed in
// folders of a path, and in its last component wherever the POSIX call
// follows them. The process runs as a fixed non-root user (uid 1000, gid
// 1000, umask 022): it may chown only to itself (EPERM otherwise), and a
// change of owner clears the set-id bits. A regular file without its owner's
// write bit is read-only: Remove, Rename over it and Publish over it fail
// with EACCES; a folder without it refuses new and removed entries. A folder
// can be given a device of its own (MountDevice): a Rename out of it or into
// it fails with EXDEV. Scratch files are unnamed until Publish; the private
// names of KeepPrivateLink are ScratchName(folder, n, pid, "memory"), and a
// name of an earlier process (see Crash) is removed by CreateScratch and
// KeepPrivateLink in its folder, as a dead process's would be.
//
// Failures: FailOp makes a chosen call fail, on the file system or on a file
// it handed out. Each call is counted under its operation name:
//   file system: "OpenForRead", "GetInfo", "GetLinkInfo", "ResolveLink",
//     "SetMode", "SetOwner", "Remove", "CheckRemovable", "Rename" (path: the
//     target), "CreateScratch" (the folder), "KeepPrivateLink",
//     "CreateFolder", "Lock", "SyncFolder", "FindFirst" (the pattern);
//   read file (its path as opened): "Read", "Seek";
//   scratch file (its folder, then the name it was published under):
//     "Append", "Sync", "Close", "ScratchOwner", "ScratchMode", "Publish"
//     (path: the target).
//
// Durability (what Crash keeps):
// - A file's bytes as of its last successful Sync; bytes appended since are
//   lost whole. Files put in place with WriteFile are durable as written.
// - A file's mode and owner as of its last Sync, or of the last SyncFolder
//   of a folder holding a name of it (a journal commits the inode with the
//   folder).
// - A folder's entries as of its last SyncFolder: names added (Publish,
//   Rename, KeepPrivateLink) and removed (Remove, Rename) since are undone.
//   A Rename between two folders changes each folder on its own: after a
//   crash the file may be under both names or under neither, depending on
//   which folders were synced.
// - Folders made with MakeFolder or WriteFile are durable; one that
//   CreateFolder made is an entry of its parent like any other.
// After Crash, files opened before fail with EIO, locks are released, and
// the process id that private names carry changes.
//
// Locks: one holder per file or folder, as flock takes them on two opens:
// a second Lock waits (on another thread) or fails with EWOULDBLOCK.
//
// Crash points: calls that change what is on disk count as mutations:
// Append, Sync, ScratchOwner, ScratchMode, Publish, SetMode, SetOwner,
// Rename, Remove, KeepPrivateLink, CreateFolder, SyncFolder (including calls
// that fail).
// CrashAfter(k) lets the k-th mutation from now take effect and then crashes
// at once: from there every call fails with EIO and changes nothing, as if
// the process had died, until Restart. No exception is thrown: the code
// under test unwinds through its own error paths, which can do nothing.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/file_system.h"

namespace vok::test {

class MemoryFileSystem : public FileSystem {
 public:
  struct Node;
  using NodeRef = std::shared_ptr<Node>;

  static constexpr uint32_t kUid = 1000;
  static constexpr uint32_t kGid = 1000;

  MemoryFileSystem();
  ~MemoryFileSystem() override;

  // --- Setting up and looking (no faults, no counting). ---
  // A durable regular file with these bytes, its folders made as needed.
  void WriteFile(const std::string& path, const std::string& bytes, uint32_t mode = 0644);
  // A durable folder and its parents.
  void MakeFolder(const std::string& path, uint32_t mode = 0755);
  // A durable symbolic link at path that holds target.
  void MakeLink(const std::string& path, const std::string& target);
  // The folder and everything below it on a device of its own.
  void MountDevice(const std::string& folder);
  // The bytes of a regular file (links followed); false when there is none.
  bool ReadFile(const std::string& path, std::string* bytes);
  bool Exists(const std::string& path);
  // Every regular file and link below folder, by full path: the bytes of a
  // file, "-> target" for a link.
  std::map<std::string, std::string> Files(const std::string& folder = "/");
  void SetTempPath(std::string path) { temp_path_ = std::move(path); }

  // --- Failures. ---
  // Calls of op (see above) whose path contains path_part fail with errno
  // err, after the first skip such calls.
  void FailOp(const std::string& op, int err, const std::string& path_part = "", int skip = 0);
  void ClearFailures() { rules_.clear(); }
  int Calls(const std::string& op) const;

  // --- Crashes. ---
  // Mutations since construction or the last Restart.
  int Mutations() const { return mutations_; }
  // Crashes right after the k-th mutation from now (k >= 1).
  void CrashAfter(int k) { crash_countdown_ = k; }
  bool crashed() const { return down_; }
  // Forgets everything that is not durable (see above).
  void Crash();
  // Makes everything durable, as a sync(1) would.
  void SyncEverything();
  // After a crash: the file system works again, as after a reboot.
  void Restart();

  // --- FileSystem. ---
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
  std::string TempPath() override { return temp_path_; }

  // --- Used by the files this system hands out. ---
  // Counts a call of op on path: its injected failure, EIO when down, else
  // OK.
  Status Enter(const std::string& op, const std::string& path);
  // The same for a mutation, which apply carries out when the call may go
  // on; the crash comes after it when its turn has come.
  Status Mutate(const std::string& op, const std::string& path,
                const std::function<Status()>& apply);
  uint64_t generation() const { return generation_; }
  Status PublishNode(const NodeRef& node, const std::string& path);
  void Unlock(uint64_t inode, uint64_t generation);

 private:
  struct Rule {
    std::string op;
    int err;
    std::string path_part;
    int skip;
  };
  // Where a name leads: its folder, its last component and the node (null
  // when the name does not exist).
  struct Place {
    NodeRef folder;
    std::string name;
    std::string path;  // canonical, links in the folders resolved
    NodeRef node;
  };

  Status Locate(const std::string& path, bool follow_last, Place* place, int depth = 0);
  // Locate, with ENOENT when the name does not exist.
  Status Existing(const std::string& path, bool follow_last, Place* place);
  NodeRef NewNode(int kind, const NodeRef& folder);
  // Removes the private names of earlier processes from folder.
  void SweepStale(const NodeRef& folder);
  std::string PrivateName();
  FileInfo InfoOf(const Node& node) const;

  NodeRef root_;
  uint64_t next_inode_ = 1;
  uint64_t next_device_ = 2;
  uint64_t generation_ = 1;
  long pid_ = 1;
  uint32_t private_counter_ = 0;
  std::string temp_path_ = "/tmp/";
  std::vector<Rule> rules_;
  std::map<std::string, int> calls_;
  int mutations_ = 0;
  int crash_countdown_ = 0;
  bool crash_pending_ = false;
  bool down_ = false;
  // The inodes locked now.
  std::mutex lock_mutex_;
  std::condition_variable lock_released_;
  std::set<uint64_t> locked_;
};

}  // namespace vok::test
