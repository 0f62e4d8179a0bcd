#include "platform/file_system.h"

#include <cerrno>
#include <cstdio>
#include <random>

namespace vok {

std::string NativePath(std::string_view path) {
  std::string out(path);
  for (char& c : out) {
    if (c == '\\') c = '/';
  }
  return out;
}

std::string FolderOf(std::string_view path) {
  std::string native = NativePath(path);
  size_t slash = native.rfind('/');
  if (slash == std::string::npos) return "./";
  return native.substr(0, slash + 1);
}

Status CreateUniqueFile(FileSystem& fs, const std::string& folder, std::string_view prefix,
                        std::string_view suffix, std::string* path,
                        std::unique_ptr<WritableFile>* file, WriteMode mode) {
  thread_local std::mt19937 rng{std::random_device{}()};
  std::uniform_int_distribution<int> code(0, 0xFFFF);
  std::string dir = NativePath(folder);
  if (!dir.empty() && dir.back() != '/') dir += '/';
  Status last;
  // A name taken by someone else (file or link) is never opened; draw again.
  for (int attempt = 0; attempt < 10000; ++attempt) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "%04X", code(rng));
    std::string candidate = dir + std::string(prefix) + hex + std::string(suffix);
    last = fs.OpenForWrite(candidate, mode, file);
    if (last.ok()) {
      *path = candidate;
      return last;
    }
    if (last.code() != EEXIST && last.code() != ELOOP) return last;
  }
  return last;
}

bool SameFile(FileSystem& fs, const std::string& a, const std::string& b) {
  FileInfo x, y;
  return fs.GetInfo(a, &x).ok() && fs.GetInfo(b, &y).ok() && x.device == y.device &&
         x.inode == y.inode;
}

bool WildcardMatch(std::string_view pattern, std::string_view name) {
  // Iterative glob with backtracking to the last '*': linear in practice.
  size_t p = 0, n = 0, star = std::string_view::npos, mark = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      mark = n;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      n = ++mark;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace vok
