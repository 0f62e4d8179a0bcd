#include "platform/posix_file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace vok {

Status Status::FromErrno(int code) { return Status(code, std::strerror(code)); }

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

class PosixWritableFile : public WritableFile {
 public:
  explicit PosixWritableFile(int fd) : fd_(fd) { buf_.reserve(kBufferSize); }
  ~PosixWritableFile() override {
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
    if (::fdatasync(fd_) != 0 && errno != EINVAL) return Status::FromErrno(errno);
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

 private:
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
    }
    return Status::OK();
  }

  int fd_;
  std::string buf_;
};

FileInfo ToInfo(const struct stat& st) {
  FileInfo info;
  info.is_dir = S_ISDIR(st.st_mode);
  info.is_regular = S_ISREG(st.st_mode);
  info.mode = st.st_mode & 07777;
  info.read_only = (st.st_mode & S_IWUSR) == 0;
  info.size = st.st_size;
  info.device = st.st_dev;
  info.inode = st.st_ino;
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
  int fd = ::open(native.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Status::FromErrno(errno);
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    int e = errno;
    ::close(fd);
    return Status::FromErrno(e);
  }
  if (S_ISDIR(st.st_mode)) {
    ::close(fd);
    return Status::FromErrno(EISDIR);
  }
  *file = std::make_unique<PosixReadableFile>(fd, st.st_size);
  return Status::OK();
}

Status PosixFileSystem::OpenForWrite(const std::string& path, WriteMode mode,
                                     std::unique_ptr<WritableFile>* file) {
  std::string native = NativePath(path);
  int fd;
  if (mode == WriteMode::kExclusive || mode == WriteMode::kExclusiveDocument) {
    const mode_t perm = mode == WriteMode::kExclusive ? 0600 : 0666;
    fd = ::open(native.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, perm);
  } else {
    struct stat st {};
    if (::stat(native.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & S_IWUSR) == 0) {
      return Status::FromErrno(EACCES);
    }
    fd = ::open(native.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  }
  if (fd < 0) return Status::FromErrno(errno);
  *file = std::make_unique<PosixWritableFile>(fd);
  return Status::OK();
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

Status PosixFileSystem::SetMode(const std::string& path, uint32_t mode) {
  if (::chmod(NativePath(path).c_str(), mode & 07777) != 0) return Status::FromErrno(errno);
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
  struct stat st {};
  if (::lstat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & S_IWUSR) == 0) {
    return Status::FromErrno(EACCES);
  }
  if (::rename(NativePath(from).c_str(), target.c_str()) != 0) return Status::FromErrno(errno);
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
