#include "file_guard.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string_view>

namespace vok::cli {

namespace {

// The first bytes of the object files the two extractions write.
constexpr std::string_view kRtfObjectStart = "{\\v\\vok OBJ 1 }\r\n";
constexpr std::string_view kMifObjectStart = "<QUONObj ";

// One spelling per file name, so that "./a.obj" and "a.obj" compare equal.
std::string NameKey(const std::string& path) {
  return std::filesystem::path(SystemName(path)).lexically_normal().string();
}

enum class Found { kNothing, kRegular, kOther, kDanglingLink };

// What path names, following a symbolic link.
Found Look(const std::string& native, struct stat* st) {
  if (::lstat(native.c_str(), st) != 0) return Found::kNothing;
  if (S_ISLNK(st->st_mode) && ::stat(native.c_str(), st) != 0) return Found::kDanglingLink;
  return S_ISREG(st->st_mode) ? Found::kRegular : Found::kOther;
}

}  // namespace

std::string SystemName(const std::string& path) {
  if (path.find('\\') == std::string::npos) return path;
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0) return path;
  std::string native = path;
  std::replace(native.begin(), native.end(), '\\', '/');
  return native;
}

std::optional<std::string> NotRegularInput(const std::string& path) {
  struct stat st {};
  if (Look(SystemName(path), &st) != Found::kOther) return std::nullopt;
  return "not a regular file";
}

std::optional<std::string> FileHead(const std::string& path, size_t n) {
  // Non-blocking, so that a FIFO put there since it was looked at cannot
  // hold the command up.
  const int fd = ::open(SystemName(path).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string head(n, '\0');
  size_t got = 0;
  struct stat st {};
  const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  while (regular && got < head.size()) {
    const ssize_t r = ::read(fd, head.data() + got, head.size() - got);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    got += static_cast<size_t>(r);
  }
  ::close(fd);
  if (!regular) return std::nullopt;
  head.resize(got);
  return head;
}

std::string WhyUnreadable(const std::string& path) {
  if (std::optional<std::string> why = NotRegularInput(path)) return *why;
  const int fd = ::open(SystemName(path).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return std::strerror(errno);
  ::close(fd);
  return {};
}

std::string WhyNoFileBeside(const std::string& path) {
  std::filesystem::path folder = std::filesystem::path(SystemName(path)).parent_path();
  if (folder.empty()) folder = ".";
  // An unnamed file is gone when closed; where the file system has none,
  // the folder's permissions have to do.
  const int fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  if (fd >= 0) {
    ::close(fd);
    return {};
  }
  if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return std::strerror(errno);
  if (::access(folder.c_str(), W_OK | X_OK) != 0) return std::strerror(errno);
  return {};
}

ObjectKind ObjectKindOf(const std::string& path) {
  const std::string head = FileHead(path, kRtfObjectStart.size()).value_or("");
  if (head.starts_with(kRtfObjectStart)) return ObjectKind::kRtf;
  if (head.starts_with(kMifObjectStart)) return ObjectKind::kMif;
  return ObjectKind::kNone;
}

bool SameFile(const std::string& a, const std::string& b) {
  if (NameKey(a) == NameKey(b)) return true;
  struct stat sa {
  }, sb{};
  return ::stat(SystemName(a).c_str(), &sa) == 0 && ::stat(SystemName(b).c_str(), &sb) == 0 &&
         sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

void RunOutputs::Claim(const std::string& output, const std::string& input) {
  struct stat st {};
  if (::stat(SystemName(output).c_str(), &st) != 0) return;
  by_name_.emplace(NameKey(output), input);
  by_id_.emplace(std::pair(st.st_dev, st.st_ino), input);
}

const std::string* RunOutputs::ClaimedBy(const std::string& output) const {
  if (auto it = by_name_.find(NameKey(output)); it != by_name_.end()) return &it->second;
  struct stat st {};
  if (by_id_.empty() || ::stat(SystemName(output).c_str(), &st) != 0) return nullptr;
  auto it = by_id_.find(std::pair(st.st_dev, st.st_ino));
  return it == by_id_.end() ? nullptr : &it->second;
}

std::optional<Refusal> RefuseOutput(const std::string& output, const OutputCheck& check,
                                    const RunOutputs& run) {
  constexpr const char* kNever = "; not replaced, even with --force";
  if (const std::string* input = run.ClaimedBy(output)) {
    return Refusal{output + " is also the " + check.what + " of " + *input + " in this run" +
                   kNever};
  }
  struct stat st {};
  switch (Look(SystemName(output), &st)) {
    case Found::kNothing:
      return std::nullopt;
    case Found::kOther:
      return Refusal{output + " is not a regular file" + kNever};
    case Found::kRegular:
    case Found::kDanglingLink:
      break;
  }
  const ObjectKind kind =
      check.foreign == ObjectKind::kNone ? ObjectKind::kNone : ObjectKindOf(output);
  if (kind != ObjectKind::kNone && kind == check.foreign) {
    return Refusal{
        output +
        (kind == ObjectKind::kRtf
             ? " holds the objects of an RTF file (written by voktools rtf extract)"
             : " holds the insets of a MIF file (written by voktools mif remove-objects)") +
        kNever};
  }
  if (check.force) return std::nullopt;
  return Refusal{std::string(check.what) + " " + output +
                     " already exists; not replaced (--force replaces it)",
                 /*exists=*/true};
}

std::optional<std::string> MoveBackupAside(const std::string& backup, std::string* error) {
  const std::string from = SystemName(backup);
  struct stat st {};
  if (::lstat(from.c_str(), &st) != 0) return std::string();
  constexpr int kMostBackups = 1000000;
  for (int n = 1; n <= kMostBackups; ++n) {
    const std::string to = from + "." + std::to_string(n);
    // Both calls work on the names themselves: a link is moved, not followed.
    int rc = ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
    if (rc != 0 && (errno == EINVAL || errno == ENOSYS)) {
      // A file system without the flag: a second name, then the old one goes.
      rc = ::linkat(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), 0);
      if (rc == 0 && ::unlink(from.c_str()) != 0) {
        const int why = errno;
        ::unlink(to.c_str());
        errno = why;
        rc = -1;
      }
    }
    if (rc == 0) return backup + "." + std::to_string(n);
    if (errno != EEXIST) {
      *error = std::strerror(errno);
      return std::nullopt;
    }
  }
  *error = "no free name " + backup + ".N";
  return std::nullopt;
}

}  // namespace vok::cli
