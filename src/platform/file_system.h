// The file system as the library sees it. One real implementation (POSIX) and
// wrappers in the tests that make a chosen call fail, so that every failure
// path of the classes above can be exercised.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/status.h"

namespace vok {

struct FileInfo {
  bool is_dir = false;
  bool is_regular = false;
  // Only from GetLinkInfo: the name is a symbolic link.
  bool is_link = false;
  // No owner write permission.
  bool read_only = false;
  uint32_t mode = 0;  // permission bits only (07777)
  uint32_t uid = 0;
  uint32_t gid = 0;
  int64_t size = 0;
  uint64_t device = 0;
  uint64_t inode = 0;
};

class ReadableFile {
 public:
  virtual ~ReadableFile() = default;
  // Reads up to n bytes; *got < n only at the end of the file.
  virtual Status Read(size_t n, char* buf, size_t* got) = 0;
  // Moves the read position to the 0-based byte offset.
  virtual Status Seek(int64_t offset) = 0;
  virtual int64_t Size() const = 0;
  virtual int64_t Tell() const = 0;
};

class WritableFile {
 public:
  virtual ~WritableFile() = default;
  virtual Status Append(std::string_view data) = 0;
  // Pushes buffered bytes to the OS and then to the disk.
  virtual Status Sync() = 0;
  virtual Status Close() = 0;
};

// A file written under no name of its own (or a private one where the file
// system cannot do without), which appears under its real name only when it
// is complete. Dropped unpublished, it leaves nothing behind.
class ScratchFile : public WritableFile {
 public:
  // Owner and group; then the permission bits (a change of owner can clear
  // the set-id bits).
  virtual Status SetOwner(uint32_t uid, uint32_t gid) = 0;
  virtual Status SetMode(uint32_t mode) = 0;
  // Puts the closed file at path in one step, replacing what is there (a
  // link is replaced, not followed). EACCES when path is a read-only file,
  // as for Rename.
  virtual Status Publish(const std::string& path) = 0;
};

// An exclusive advisory lock that FileSystem::Lock took; destroying the
// object releases it.
class FileLock {
 public:
  virtual ~FileLock() = default;
};

enum class LockWait {
  // Until the holder releases it, however long that takes.
  kWait,
  // Not at all: EWOULDBLOCK at once when another holds it.
  kNoWait,
};

enum class FindKind {
  // Regular files only: normal, read-only and archive files.
  kFiles,
  // Regular files and folders.
  kFilesAndFolders,
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  virtual Status OpenForRead(const std::string& path, std::unique_ptr<ReadableFile>* file) = 0;
  virtual Status GetInfo(const std::string& path, FileInfo* info) = 0;
  // The same for the name itself: a symbolic link is not followed.
  virtual Status GetLinkInfo(const std::string& path, FileInfo* info) = 0;
  // The file a name leads to, every symbolic link followed.
  virtual Status ResolveLink(const std::string& path, std::string* resolved) = 0;
  virtual Status SetMode(const std::string& path, uint32_t mode) = 0;
  // Owner and group of the name itself (a symbolic link is not followed).
  virtual Status SetOwner(const std::string& path, uint32_t uid, uint32_t gid) = 0;
  // Fails with EACCES on a read-only file, whoever runs the process.
  virtual Status Remove(const std::string& path) = 0;
  // Whether Remove would succeed now (read-only attribute, folder permission).
  virtual Status CheckRemovable(const std::string& path) = 0;
  // Atomic replace; EACCES when the target is read-only, EXDEV across devices.
  virtual Status Rename(const std::string& from, const std::string& to) = 0;
  // Gives the name from (a link itself, not what it leads to) the new name
  // to, which must be free: EEXIST when anything stands there.
  virtual Status RenameNoReplace(const std::string& from, const std::string& to) = 0;
  // A scratch file in folder, mode 0600, for writing. A scratch file that a
  // process of this machine left behind in that folder when it died is
  // removed on the way.
  virtual Status CreateScratch(const std::string& folder, std::unique_ptr<ScratchFile>* file) = 0;
  // A second, private name for the regular file at path (a hard link
  // beside it), so that its content outlives a replacement of path.
  virtual Status KeepPrivateLink(const std::string& path, std::string* private_name) = 0;
  // A new folder with the permission bits mode, less the umask; EEXIST when
  // the name is taken.
  virtual Status CreateFolder(const std::string& path, uint32_t mode) = 0;
  // Removes an empty folder.
  virtual Status RemoveFolder(const std::string& path) = 0;
  // Locks the file or folder at path against every other lock taken on it
  // (by this process too, through another call).
  virtual Status Lock(const std::string& path, LockWait wait, std::unique_ptr<FileLock>* lock) = 0;
  // Writes the folder's entries to disk (after a rename into it).
  virtual Status SyncFolder(const std::string& folder) = 0;
  // The owner and group of new files, and the permissions of a new document
  // (0666 less the umask).
  virtual void NewFileDefaults(uint32_t* uid, uint32_t* gid, uint32_t* mode) = 0;
  // First entry matching pattern; the last path component may hold * and ?.
  virtual Status FindFirst(const std::string& pattern, FindKind kind, std::string* found) = 0;
  // The system's temporary folder as the OS reports it (may lack a trailing
  // separator, may be empty when the OS has none to give).
  virtual std::string TempPath() = 0;
};

// The name handed to the OS. A name that exists as written is taken as
// written; otherwise '\' separates folders, as '/' does, where the folder so
// named exists.
std::string NativePath(std::string_view path);

// A scratch file's private name, which says whose it is: folder +
// ".VOK" + 4 hex digits + "." + process id + "." + host name + ".TMP".
std::string ScratchName(const std::string& folder, uint32_t code, long pid, std::string_view host);
// The process id and host of a private scratch name; false for other names.
bool ParseScratchName(std::string_view name, long* pid, std::string* host);

// The folder part of a path with its trailing '/', or "./" when it has none.
std::string FolderOf(std::string_view path);

// Gives a read-only regular file, named directly (a symbolic link is left
// alone), its owner's write permission back, keeping the other bits. True
// when it did; *before, when given, gets the file's attributes as they were.
bool MakeWritable(FileSystem& fs, const std::string& path, FileInfo* before = nullptr);

// The whole content of the file at path.
Status ReadWholeFile(FileSystem& fs, const std::string& path, std::string* content);

// Whether both names reach one existing file (same device and inode).
bool SameFile(FileSystem& fs, const std::string& a, const std::string& b);

// Wildcard match of one name component (* and ?), byte by byte.
bool WildcardMatch(std::string_view pattern, std::string_view name);

}  // namespace vok
