#include "platform/posix_file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <set>
#include <vector>

namespace vok {

Status Status::FromErrno(int code) { return Status(code, std::strerror(code)); }

Status NotRegular() { return Status::Error(EINVAL, "Not a regular file"); }

namespace {

// Small reads (a line reader asks for 4 KB at a time) are served from a
// read-ahead buffer, so that the number of system calls does not depend on
// the caller's chunk size. Tell() is the caller's position, not the OS's.
class PosixReadableFile : public ReadableFile {
 public:
  PosixReadableFile(int fd, int64_t size) : fd_(fd), size_(size) {}
  ~PosixReadableFile() override { ::close(fd_); }

  Status Read(size_t n, char* buf, size_t* got) override {
    size_t done = 0;
    while (done < n) {
      if (ahead_pos_ < ahead_size_) {
        size_t take = std::min(n - done, ahead_size_ - ahead_pos_);
        std::memcpy(buf + done, ahead_.get() + ahead_pos_, take);
        ahead_pos_ += take;
        done += take;
        continue;
      }
      size_t want = n - done;
      ssize_t r;
      if (want >= kReadAhead) {
        r = ::read(fd_, buf + done, want);
        if (r > 0) done += static_cast<size_t>(r);
      } else {
        // Allocated at the first small read, and never cleared: read fills it.
        if (!ahead_) ahead_ = std::make_unique_for_overwrite<char[]>(kReadAhead);
        r = ::read(fd_, ahead_.get(), kReadAhead);
        ahead_size_ = r > 0 ? static_cast<size_t>(r) : 0;
        ahead_pos_ = 0;
      }
      if (r < 0) {
        if (errno == EINTR) continue;
        pos_ += static_cast<int64_t>(done);
        *got = done;
        return Status::FromErrno(errno);
      }
      if (r == 0) break;
    }
    pos_ += static_cast<int64_t>(done);
    *got = done;
    return Status::OK();
  }

  Status Seek(int64_t offset) override {
    if (::lseek(fd_, offset, SEEK_SET) < 0) return Status::FromErrno(errno);
    ahead_size_ = 0;
    ahead_pos_ = 0;
    pos_ = offset;
    return Status::OK();
  }

  int64_t Size() const override { return size_; }
  int64_t Tell() const override { return pos_; }

 private:
  static constexpr size_t kReadAhead = 1 << 18;
  int fd_;
  int64_t size_;
  int64_t pos_ = 0;
  std::unique_ptr<char[]> ahead_;
  size_t ahead_size_ = 0;
  size_t ahead_pos_ = 0;
};

// Writes through a buffer of its own.
class PosixWritable : public ScratchFile {
 public:
  explicit PosixWritable(int fd) : fd_(fd) { buf_.reserve(kBufferSize); }
  ~PosixWritable() override {
    if (fd_ >= 0) {
      (void)FlushBuffer();
      ::close(fd_);
    }
  }

  Status Append(std::string_view data) override {
    if (fd_ < 0) return Status::FromErrno(EBADF);
    if (buf_.size() + data.size() > kBufferSize) {
      Status s = FlushBuffer();
      if (!s.ok()) return s;
      if (data.size() >= kBufferSize) return WriteAll(data.data(), data.size());
    }
    buf_.append(data);
    return Status::OK();
  }

  Status Sync() override {
    Status s = FlushBuffer();
    if (!s.ok()) return s;
    if (::fsync(fd_) != 0 && errno != EINVAL) return Status::FromErrno(errno);
    return Status::OK();
  }

  Status Close() override {
    if (fd_ < 0) return Status::OK();
    Status s = FlushBuffer();
    int rc = ::close(fd_);
    fd_ = -1;
    if (!s.ok()) return s;
    if (rc != 0) return Status::FromErrno(errno);
    return Status::OK();
  }

 protected:
  static constexpr size_t kBufferSize = 1 << 16;

  Status FlushBuffer() {
    if (buf_.empty()) return Status::OK();
    Status s = WriteAll(buf_.data(), buf_.size());
    buf_.clear();
    return s;
  }

  Status WriteAll(const char* p, size_t n) {
    while (n > 0) {
      ssize_t w = ::write(fd_, p, n);
      if (w < 0) {
        if (errno == EINTR) continue;
        return Status::FromErrno(errno);
      }
      p += w;
      n -= static_cast<size_t>(w);
      written_ += w;
    }
    // Start writing back what has gathered, so that the final Sync has little
    // left to wait for.
    if (written_ - kicked_ >= kKickEvery) {
      (void)::sync_file_range(fd_, kicked_, written_ - kicked_, SYNC_FILE_RANGE_WRITE);
      kicked_ = written_;
    }
    return Status::OK();
  }

  static constexpr off_t kKickEvery = 8 << 20;
  int fd_;
  off_t written_ = 0;
  off_t kicked_ = 0;
  std::string buf_;
};


std::string HostName() {
  char host[256] = {};
  if (::gethostname(host, sizeof host - 1) != 0 || host[0] == '\0') return "localhost";
  std::string out = host;
  // The name goes into a file name.
  std::replace(out.begin(), out.end(), '/', '_');
  return out;
}

// Fails on a read-only target as Rename does.
Status CheckReplaceable(const std::string& native) {
  struct stat st {};
  if (::lstat(native.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & S_IWUSR) == 0) {
    return Status::FromErrno(EACCES);
  }
  return Status::OK();
}

// Calls make(name) with fresh private names in folder, drawn from random,
// until it does not fail with EEXIST; the name that worked.
Status WithPrivateName(Random& random, const std::string& folder,
                       const std::function<int(const char*)>& make, std::string* name) {
  static const std::string host = HostName();
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string candidate =
        ScratchName(folder, random.Next(), static_cast<long>(::getpid()), host);
    if (make(candidate.c_str()) == 0) {
      *name = candidate;
      return Status::OK();
    }
    if (errno != EEXIST) return Status::FromErrno(errno);
  }
  return Status::FromErrno(EEXIST);
}

// A scratch file: unnamed (O_TMPFILE) where the file system allows it,
// otherwise created under a private name. The private name, when it has
// one, goes with the object unless the file was published.
class PosixScratchFile : public PosixWritable {
 public:
  PosixScratchFile(int fd, Random& random, std::string folder, std::string name)
      : PosixWritable(fd), random_(random), folder_(std::move(folder)), name_(std::move(name)) {}
  ~PosixScratchFile() override {
    if (!name_.empty()) ::unlink(name_.c_str());
  }

  Status SetOwner(uint32_t uid, uint32_t gid) override {
    if (fd_ < 0) return Status::FromErrno(EBADF);
    if (::fchown(fd_, uid, gid) != 0) return Status::FromErrno(errno);
    return Status::OK();
  }
  Status SetMode(uint32_t mode) override {
    if (fd_ < 0) return Status::FromErrno(EBADF);
    if (::fchmod(fd_, mode & 07777) != 0) return Status::FromErrno(errno);
    return Status::OK();
  }
  Status Publish(const std::string& path) override {
    const std::string target = NativePath(path);
    Status s = CheckReplaceable(target);
    if (!s.ok()) return s;
    if (name_.empty()) {
      if (fd_ < 0) return Status::FromErrno(EBADF);
      const std::string proc = "/proc/self/fd/" + std::to_string(fd_);
      s = WithPrivateName(
          random_, folder_,
          [&](const char* name) {
            return ::linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, name, AT_SYMLINK_FOLLOW);
          },
          &name_);
      if (!s.ok()) return s;
    }
    if (::rename(name_.c_str(), target.c_str()) != 0) return Status::FromErrno(errno);
    name_.clear();
    return Status::OK();
  }

 private:
  Random& random_;
  std::string folder_;
  std::string name_;
};

// Closing the descriptor releases the lock.
class PosixFileLock : public FileLock {
 public:
  explicit PosixFileLock(int fd) : fd_(fd) {}
  ~PosixFileLock() override { ::close(fd_); }

 private:
  int fd_;
};

// Removes the private scratch files in folder whose process, on this
// machine, no longer runs. Once per folder and process.
void RemoveStaleScratch(const std::string& folder) {
  static std::mutex mutex;
  static std::set<std::string> swept;
  {
    std::lock_guard lock(mutex);
    if (!swept.insert(folder).second) return;
  }
  static const std::string host = HostName();
  DIR* d = ::opendir(folder.c_str());
  if (d == nullptr) return;
  const uid_t me = ::geteuid();
  while (struct dirent* e = ::readdir(d)) {
    long pid = 0;
    std::string owner_host;
    if (!ParseScratchName(e->d_name, &pid, &owner_host) || owner_host != host) continue;
    if (pid <= 0 || pid == ::getpid() || ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) {
      continue;
    }
    const std::string full = folder + e->d_name;
    struct stat st {};
    if (::lstat(full.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    if (me != 0 && st.st_uid != me) continue;
    ::unlink(full.c_str());
  }
  ::closedir(d);
}

std::string WithSlash(std::string folder) {
  if (folder.empty()) return "./";
  if (folder.back() != '/') folder += '/';
  return folder;
}

FileInfo ToInfo(const struct stat& st) {
  FileInfo info;
  info.is_dir = S_ISDIR(st.st_mode);
  info.is_regular = S_ISREG(st.st_mode);
  info.mode = st.st_mode & 07777;
  info.read_only = (st.st_mode & S_IWUSR) == 0;
  info.size = st.st_size;
  info.device = st.st_dev;
  info.inode = st.st_ino;
  info.uid = st.st_uid;
  info.gid = st.st_gid;
  return info;
}

bool HasWildcard(std::string_view s) { return s.find_first_of("*?") != std::string_view::npos; }

bool KindAccepts(FindKind kind, const struct stat& st) {
  if (S_ISREG(st.st_mode)) return true;
  return kind == FindKind::kFilesAndFolders && S_ISDIR(st.st_mode);
}

}  // namespace

Status PosixFileSystem::OpenForRead(const std::string& path, std::unique_ptr<ReadableFile>* file) {
  std::string native = NativePath(path);
  // Non-blocking, so that a FIFO without a writer cannot hold the open; only
  // regular files are read.
  int fd = ::open(native.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return Status::FromErrno(errno);
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    int e = errno;
    ::close(fd);
    return Status::FromErrno(e);
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    return S_ISDIR(st.st_mode) ? Status::FromErrno(EISDIR) : NotRegular();
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  *file = std::make_unique<PosixReadableFile>(fd, st.st_size);
  return Status::OK();
}

Status PosixFileSystem::CreateScratch(const std::string& folder,
                                     std::unique_ptr<ScratchFile>* file) {
  const std::string dir = WithSlash(NativePath(folder));
  RemoveStaleScratch(dir);
  int fd = -1;
  if (unnamed_scratch_) {
    fd = ::open(dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd >= 0) {
      *file = std::make_unique<PosixScratchFile>(fd, random_, dir, std::string());
      return Status::OK();
    }
    // EOPNOTSUPP, EISDIR or EINVAL: no unnamed files here.
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return Status::FromErrno(errno);
  }
  std::string name;
  Status s = WithPrivateName(
      random_, dir,
      [&](const char* candidate) {
        fd = ::open(candidate, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        return fd >= 0 ? 0 : -1;
      },
      &name);
  if (s.ok()) *file = std::make_unique<PosixScratchFile>(fd, random_, dir, name);
  return s;
}

Status PosixFileSystem::KeepPrivateLink(const std::string& path, std::string* private_name) {
  const std::string native = NativePath(path);
  const std::string dir = FolderOf(native);
  RemoveStaleScratch(dir);
  // The name itself is linked: a symbolic link is never followed.
  return WithPrivateName(
      random_, dir, [&](const char* name) { return ::link(native.c_str(), name); },
      private_name);
}

Status PosixFileSystem::CreateFolder(const std::string& path, uint32_t mode) {
  if (::mkdir(NativePath(path).c_str(), mode & 07777) != 0) return Status::FromErrno(errno);
  return Status::OK();
}

Status PosixFileSystem::RemoveFolder(const std::string& path) {
  if (::rmdir(NativePath(path).c_str()) != 0) return Status::FromErrno(errno);
  return Status::OK();
}

Status PosixFileSystem::Lock(const std::string& path, LockWait wait,
                             std::unique_ptr<FileLock>* lock) {
  // A folder is opened for reading as well: flock needs only a descriptor.
  const int fd = ::open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return Status::FromErrno(errno);
  const int operation = LOCK_EX | (wait == LockWait::kNoWait ? LOCK_NB : 0);
  while (::flock(fd, operation) != 0) {
    if (errno == EINTR) continue;
    const int e = errno;
    ::close(fd);
    return Status::FromErrno(e);
  }
  *lock = std::make_unique<PosixFileLock>(fd);
  return Status::OK();
}

Status PosixFileSystem::SyncFolder(const std::string& folder) {
  int fd = ::open(WithSlash(NativePath(folder)).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return Status::FromErrno(errno);
  Status s;
  if (::fsync(fd) != 0 && errno != EINVAL) s = Status::FromErrno(errno);
  ::close(fd);
  return s;
}

void PosixFileSystem::NewFileDefaults(uint32_t* uid, uint32_t* gid, uint32_t* mode) {
  *uid = ::geteuid();
  *gid = ::getegid();
  // The umask, read without changing it (umask() would, for every thread).
  static const uint32_t mask = [] {
    uint32_t m = 022;
    if (FILE* f = std::fopen("/proc/self/status", "re")) {
      char line[256];
      while (std::fgets(line, sizeof line, f) != nullptr) {
        if (std::strncmp(line, "Umask:", 6) == 0) m = static_cast<uint32_t>(std::strtoul(line + 6, nullptr, 8));
      }
      std::fclose(f);
    }
    return m;
  }();
  *mode = 0666 & ~mask;
}

Status PosixFileSystem::GetInfo(const std::string& path, FileInfo* info) {
  struct stat st {};
  if (::stat(NativePath(path).c_str(), &st) != 0) return Status::FromErrno(errno);
  *info = ToInfo(st);
  return Status::OK();
}

Status PosixFileSystem::GetLinkInfo(const std::string& path, FileInfo* info) {
  struct stat st {};
  if (::lstat(NativePath(path).c_str(), &st) != 0) return Status::FromErrno(errno);
  *info = ToInfo(st);
  info->is_link = S_ISLNK(st.st_mode);
  return Status::OK();
}

Status PosixFileSystem::ResolveLink(const std::string& path, std::string* resolved) {
  char* real = ::realpath(NativePath(path).c_str(), nullptr);
  if (real == nullptr) return Status::FromErrno(errno);
  *resolved = real;
  std::free(real);
  return Status::OK();
}

Status PosixFileSystem::SetMode(const std::string& path, uint32_t mode) {
  if (::chmod(NativePath(path).c_str(), mode & 07777) != 0) return Status::FromErrno(errno);
  return Status::OK();
}

Status PosixFileSystem::SetOwner(const std::string& path, uint32_t uid, uint32_t gid) {
  if (::lchown(NativePath(path).c_str(), uid, gid) != 0) return Status::FromErrno(errno);
  return Status::OK();
}

Status PosixFileSystem::CheckRemovable(const std::string& path) {
  std::string native = NativePath(path);
  struct stat st {};
  if (::lstat(native.c_str(), &st) != 0) return Status::FromErrno(errno);
  if (S_ISDIR(st.st_mode)) return Status::FromErrno(EISDIR);
  if (S_ISREG(st.st_mode) && (st.st_mode & S_IWUSR) == 0) return Status::FromErrno(EACCES);
  std::string folder = FolderOf(native);
  if (::access(folder.c_str(), W_OK | X_OK) != 0) return Status::FromErrno(errno);
  return Status::OK();
}

Status PosixFileSystem::Remove(const std::string& path) {
  Status s = CheckRemovable(path);
  if (!s.ok()) return s;
  if (::unlink(NativePath(path).c_str()) != 0) return Status::FromErrno(errno);
  return Status::OK();
}

Status PosixFileSystem::Rename(const std::string& from, const std::string& to) {
  std::string target = NativePath(to);
  Status s = CheckReplaceable(target);
  if (!s.ok()) return s;
  if (::rename(NativePath(from).c_str(), target.c_str()) != 0) return Status::FromErrno(errno);
  return Status::OK();
}

Status PosixFileSystem::RenameNoReplace(const std::string& from, const std::string& to) {
  const std::string a = NativePath(from), b = NativePath(to);
  if (::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_NOREPLACE) == 0) {
    return Status::OK();
  }
  if (errno != EINVAL && errno != ENOSYS) return Status::FromErrno(errno);
  // A file system without the flag: a second name, then the old one goes.
  if (::linkat(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), 0) != 0) return Status::FromErrno(errno);
  if (::unlink(a.c_str()) != 0) {
    const int why = errno;
    ::unlink(b.c_str());
    return Status::FromErrno(why);
  }
  return Status::OK();
}

Status PosixFileSystem::FindFirst(const std::string& pattern, FindKind kind, std::string* found) {
  std::string native = NativePath(pattern);
  size_t slash = native.rfind('/');
  std::string dir = slash == std::string::npos ? "." : native.substr(0, slash + 1);
  std::string name = slash == std::string::npos ? native : native.substr(slash + 1);
  if (name.empty()) return Status::FromErrno(ENOENT);
  if (!HasWildcard(name)) {
    struct stat st {};
    if (::stat(native.c_str(), &st) != 0) return Status::FromErrno(errno);
    if (!KindAccepts(kind, st)) return Status::FromErrno(ENOENT);
    *found = name;
    return Status::OK();
  }
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return Status::FromErrno(errno);
  Status result = Status::FromErrno(ENOENT);
  while (struct dirent* e = ::readdir(d)) {
    std::string_view entry = e->d_name;
    if (entry == "." || entry == "..") continue;
    if (!WildcardMatch(name, entry)) continue;
    struct stat st {};
    std::string full = (slash == std::string::npos ? std::string() : dir) + std::string(entry);
    if (::stat(full.c_str(), &st) != 0 || !KindAccepts(kind, st)) continue;
    *found = std::string(entry);
    result = Status::OK();
    break;
  }
  ::closedir(d);
  return result;
}

std::string PosixFileSystem::TempPath() {
  const char* env = std::getenv("TMPDIR");
  std::string dir = (env != nullptr && *env != '\0') ? env : "/tmp";
  if (dir.back() != '/') dir += '/';
  return dir;
}

}  // namespace vok
