// A file system held in memory, seen through the fault wrapper (failures,
// counts and crash points as FaultFileSystem gives them), with a model of
// what a crash keeps.
//
// Names: absolute ('/'-separated) or relative to "/"; "." and ".." are
// understood, a trailing '/' names a folder. There are no symbolic links.
// Every file belongs to one user and group (kUid), and SetOwner changes
// nothing. A regular file without its owner's write bit is read-only: Remove, Rename
// over it and Publish over it fail with EACCES; a folder without it refuses
// new and removed entries. A folder can be given a device of its own
// (MountDevice): a Rename or Publish across devices fails with EXDEV.
// Scratch files are unnamed until Publish; the private names of
// KeepPrivateLink are ScratchName(folder, n, pid, "memory"), and a name of an
// earlier process (the pid changes in a crash) is removed by CreateScratch
// and KeepPrivateLink in its folder, as a dead process's would be.
// CreateFolder, RemoveFolder, RenameNoReplace and Lock fail with ENOSYS.
//
// Durability (what Crash keeps):
// - A file's bytes and mode as of its last Sync; a file's mode also as of the
//   last SyncFolder of its folder (a journal commits the inode with it).
// - A folder's entries as of its last SyncFolder: names added and removed
//   since are undone. A Rename between two folders changes each on its own.
// - What WriteFile and MakeFolder put in place is durable.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "support/fault_file_system.h"

namespace vok::test {

class MemoryFileSystem : public FaultFileSystem {
 public:
  class Store;

  static constexpr uint32_t kUid = 1000;

  MemoryFileSystem();
  ~MemoryFileSystem() override;

  // Setting up and looking, past the failures and counts.
  // A durable regular file with these bytes, its folders made as needed.
  void WriteFile(const std::string& path, const std::string& bytes, uint32_t mode = 0644);
  // A durable folder and its parents.
  void MakeFolder(const std::string& path, uint32_t mode = 0755);
  // The folder and everything made below it on a device of its own.
  void MountDevice(const std::string& folder);
  // The bytes of a regular file; false when there is none.
  bool ReadFile(const std::string& path, std::string* bytes);
  // Every regular file below folder by full path, with its bytes.
  std::map<std::string, std::string> Files(const std::string& folder = "/");

  // Forgets everything that is not durable.
  void Crash() override;
  // Makes everything durable, as sync(1) would.
  void SyncEverything();

 private:
  std::unique_ptr<Store> store_;
};

}  // namespace vok::test
