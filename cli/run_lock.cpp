#include "run_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ostream>
#include <utility>

#include "file_guard.h"

namespace vok::cli {

namespace {

// The folder a path names a file in, as the library reads the name.
std::string FolderOfPath(const std::string& name) {
  const std::string path = SystemName(name);
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

FolderLocks::~FolderLocks() { Release(); }

void FolderLocks::Release() {
  for (int fd : fds_) ::close(fd);
  fds_.clear();
}

void FolderLocks::Acquire(const std::vector<std::string>& paths, std::ostream& err) {
  // One lock per folder, taken in the order of (device, inode).
  std::vector<std::pair<std::pair<dev_t, ino_t>, int>> folders;
  for (const std::string& path : paths) {
    if (path.empty()) continue;
    int fd = ::open(FolderOfPath(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat st {};
    const bool seen = ::fstat(fd, &st) != 0 ||
                      std::any_of(folders.begin(), folders.end(), [&](const auto& f) {
                        return f.first == std::make_pair(st.st_dev, st.st_ino);
                      });
    if (seen) {
      ::close(fd);
      continue;
    }
    folders.push_back({{st.st_dev, st.st_ino}, fd});
  }
  std::sort(folders.begin(), folders.end());
  bool said = false;
  for (const auto& [id, fd] : folders) {
    fds_.push_back(fd);
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) continue;
    if (errno != EWOULDBLOCK) continue;
    if (!said) {
      err << "voktools: waiting for another voktools run in the same folder to finish\n";
      err.flush();
      said = true;
    }
    while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
    }
  }
}

}  // namespace vok::cli
