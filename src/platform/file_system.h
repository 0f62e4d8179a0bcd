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

enum class WriteMode {
  // Create or truncate (fails on a read-only file).
  kTruncate,
  // O_CREAT|O_EXCL|O_NOFOLLOW, mode 0600: never writes through a name someone
  // else made, link or file.
  kExclusive,
  // The same, with the permissions of a new document (0666 less the umask),
  // for files that become the user's output.
  kExclusiveDocument,
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
  virtual Status OpenForWrite(const std::string& path, WriteMode mode,
                              std::unique_ptr<WritableFile>* file) = 0;
  virtual Status GetInfo(const std::string& path, FileInfo* info) = 0;
  // The same for the name itself: a symbolic link is not followed.
  virtual Status GetLinkInfo(const std::string& path, FileInfo* info) = 0;
  virtual Status SetMode(const std::string& path, uint32_t mode) = 0;
  // Fails with EACCES on a read-only file, whoever runs the process.
  virtual Status Remove(const std::string& path) = 0;
  // Whether Remove would succeed now (read-only attribute, folder permission).
  virtual Status CheckRemovable(const std::string& path) = 0;
  // Atomic replace; EACCES when the target is read-only, EXDEV across devices.
  virtual Status Rename(const std::string& from, const std::string& to) = 0;
  // First entry matching pattern; the last path component may hold * and ?.
  virtual Status FindFirst(const std::string& pattern, FindKind kind, std::string* found) = 0;
  // The system's temporary folder as the OS reports it (may lack a trailing
  // separator, may be empty when the OS has none to give).
  virtual std::string TempPath() = 0;
};

// Turns '\' into '/': both separate folders at the OS boundary.
std::string NativePath(std::string_view path);

// The folder part of a path with its trailing '/', or "./" when it has none.
std::string FolderOf(std::string_view path);

// Creates a file that did not exist: folder + prefix + 4 hex digits + suffix,
// drawing again when the name is taken. The file is open for writing.
Status CreateUniqueFile(FileSystem& fs, const std::string& folder, std::string_view prefix,
                        std::string_view suffix, std::string* path,
                        std::unique_ptr<WritableFile>* file,
                        WriteMode mode = WriteMode::kExclusive);

// Whether both names reach one existing file (same device and inode).
bool SameFile(FileSystem& fs, const std::string& a, const std::string& b);

// Wildcard match of one name component (* and ?), byte by byte.
bool WildcardMatch(std::string_view pattern, std::string_view name);

}  // namespace vok
