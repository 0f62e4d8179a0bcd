#include "platform/file_system.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>

namespace vok {

std::string NativePath(std::string_view path) {
  std::string out(path);
  if (out.find('\\') == std::string::npos) return out;
  struct stat st {};
  if (::lstat(out.c_str(), &st) == 0) return out;
  for (char& c : out) {
    if (c == '\\') c = '/';
  }
  return out;
}

std::string ScratchName(const std::string& folder, uint32_t code, long pid, std::string_view host) {
  char head[16];
  std::snprintf(head, sizeof head, ".VOK%04X.", code & 0xFFFF);
  std::string dir = folder;
  if (!dir.empty() && dir.back() != '/') dir += '/';
  return dir + head + std::to_string(pid) + "." + std::string(host) + ".TMP";
}

bool ParseScratchName(std::string_view name, long* pid, std::string* host) {
  constexpr std::string_view kHead = ".VOK", kTail = ".TMP";
  if (!name.starts_with(kHead) || !name.ends_with(kTail)) return false;
  name.remove_prefix(kHead.size());
  name.remove_suffix(kTail.size());
  if (name.size() < 6 || name[4] != '.') return false;
  for (char c : name.substr(0, 4)) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
  }
  name.remove_prefix(5);
  const auto [end, ec] = std::from_chars(name.data(), name.data() + name.size(), *pid);
  if (ec != std::errc() || end == name.data() || end == name.data() + name.size() || *end != '.') {
    return false;
  }
  *host = std::string(end + 1, name.data() + name.size());
  return !host->empty();
}

std::string FolderOf(std::string_view path) {
  std::string native = NativePath(path);
  size_t slash = native.rfind('/');
  if (slash == std::string::npos) return "./";
  return native.substr(0, slash + 1);
}

bool MakeWritable(FileSystem& fs, const std::string& path, FileInfo* before) {
  FileInfo info;
  if (!fs.GetLinkInfo(path, &info).ok()) return false;
  if (before != nullptr) *before = info;
  if (!info.is_regular || !info.read_only) return false;
  return fs.SetMode(path, info.mode | S_IWUSR).ok();
}

Status ReadWholeFile(FileSystem& fs, const std::string& path, std::string* content) {
  std::unique_ptr<ReadableFile> file;
  Status s = fs.OpenForRead(path, &file);
  if (!s.ok()) return s;
  content->clear();
  // The size is a hint: a file that grows meanwhile is read to its end.
  size_t want = static_cast<size_t>(std::max<int64_t>(file->Size(), 0)) + 1;
  while (true) {
    const size_t at = content->size();
    content->resize(at + want);
    size_t got = 0;
    s = file->Read(want, content->data() + at, &got);
    content->resize(at + got);
    if (!s.ok() || got < want) return s;
    want = std::max<size_t>(want, 1 << 16);
  }
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
