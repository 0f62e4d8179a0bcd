#include "platform/posix_profile_store.h"

#include <cerrno>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "platform/file_system.h"
#include "voktools/ascii.h"

namespace vok {

namespace {

std::string_view Trim(std::string_view s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string_view::npos) return {};
  size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

// One line of the file without its line end.
struct Line {
  std::string_view text;
  std::string_view end;
};

std::vector<Line> SplitLines(std::string_view content) {
  std::vector<Line> lines;
  size_t start = 0;
  while (start < content.size()) {
    size_t p = content.find_first_of("\r\n", start);
    if (p == std::string_view::npos) {
      lines.push_back({content.substr(start), {}});
      break;
    }
    size_t end = p + 1;
    if (content[p] == '\r' && end < content.size() && content[end] == '\n') ++end;
    lines.push_back({content.substr(start, p - start), content.substr(p, end - p)});
    start = end;
  }
  return lines;
}

// "[name]" gives name; other lines give nothing.
bool SectionName(std::string_view line, std::string_view* name) {
  std::string_view t = Trim(line);
  if (t.empty() || t.front() != '[') return false;
  size_t close = t.find(']');
  *name = Trim(t.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
  return true;
}

// "key = value" gives key and value; comments and other lines give nothing.
bool KeyValue(std::string_view line, std::string_view* key, std::string_view* value) {
  std::string_view t = Trim(line);
  if (t.empty() || t.front() == ';') return false;
  size_t eq = t.find('=');
  if (eq == std::string_view::npos) return false;
  *key = Trim(t.substr(0, eq));
  *value = Trim(t.substr(eq + 1));
  return true;
}

std::string Cut(std::string_view s, size_t buffer_chars) {
  size_t limit = buffer_chars == 0 ? 0 : buffer_chars - 1;
  return std::string(s.substr(0, limit));
}

// Creates folder and the folders above it that are missing.
bool MakeFolders(FileSystem& fs, const std::string& folder) {
  for (size_t p = 1; p <= folder.size(); ++p) {
    if (p == folder.size() || folder[p] == '/') {
      Status s = fs.CreateFolder(folder.substr(0, p), 0755);
      if (!s.ok() && s.code() != EEXIST) return false;
    }
  }
  return true;
}

}  // namespace

std::string PosixProfileStore::ProfileFolder() {
  std::string folder;
  if (const char* win = std::getenv("VOKTOOLS_WINDIR"); win != nullptr && *win != '\0') {
    folder = NativePath(win);
  } else if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && *xdg != '\0') {
    folder = std::string(xdg) + "/voktools";
  } else {
    const char* home = std::getenv("HOME");
    folder = std::string(home != nullptr ? home : "") + "/.config/voktools";
  }
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

std::string PosixProfileStore::Resolve(const std::string& file) {
  std::string native = NativePath(file);
  if (!native.empty() && native.front() == '/') return native;
  return ProfileFolder() + native;
}

std::string PosixProfileStore::GetString(const std::string& section, const std::string& key,
                                         const std::string& default_value, const std::string& file,
                                         size_t buffer_chars) {
  // The default loses its trailing blanks, as the profile service does.
  std::string_view fallback = default_value;
  while (!fallback.empty() && (fallback.back() == ' ' || fallback.back() == '\t')) {
    fallback.remove_suffix(1);
  }
  std::string content;
  if (!ReadWholeFile(*fs_, Resolve(file), &content).ok()) return Cut(fallback, buffer_chars);
  bool in_section = false;
  for (const Line& line : SplitLines(content)) {
    std::string_view name, k, v;
    if (SectionName(line.text, &name)) {
      // The first section of that name is the one that counts.
      if (in_section) break;
      in_section = EqualsIgnoreCase(name, section);
    } else if (in_section && KeyValue(line.text, &k, &v) && EqualsIgnoreCase(k, key)) {
      if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
      return Cut(v, buffer_chars);
    }
  }
  return Cut(fallback, buffer_chars);
}

bool PosixProfileStore::WriteString(const std::string& section, const std::string& key,
                                    const std::string& value, const std::string& file) {
  std::string path = Resolve(file);
  std::string folder = FolderOf(path);
  if (!MakeFolders(*fs_, folder)) return false;
  // Writers of one folder's profile files, in any process, take turns.
  std::unique_ptr<FileLock> lock;
  if (!fs_->Lock(folder, LockWait::kWait, &lock).ok()) return false;

  std::string content;
  FileInfo old_info;
  bool existed = fs_->GetInfo(path, &old_info).ok();
  if (existed && !ReadWholeFile(*fs_, path, &content).ok()) return false;
  std::vector<Line> lines = SplitLines(content);
  std::string eol = content.find("\r\n") != std::string::npos ? "\r\n" : "\n";
  std::string entry = key + "=" + value;

  // Where the entry goes: over the key's line, or after the last non-blank
  // line of the section, or in a new section at the end.
  size_t replace = lines.size(), insert_after = lines.size();
  bool section_found = false, in_section = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string_view name, k, v;
    if (SectionName(lines[i].text, &name)) {
      if (in_section) break;
      in_section = !section_found && EqualsIgnoreCase(name, section);
      if (in_section) {
        section_found = true;
        insert_after = i;
      }
    } else if (in_section) {
      if (KeyValue(lines[i].text, &k, &v) && EqualsIgnoreCase(k, key)) {
        replace = i;
        break;
      }
      if (!Trim(lines[i].text).empty()) insert_after = i;
    }
  }

  std::string out;
  out.reserve(content.size() + entry.size() + section.size() + 8);
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i == replace) {
      out += entry;
    } else {
      out += lines[i].text;
    }
    std::string_view end = lines[i].end;
    if (end.empty() && (i + 1 < lines.size() || !section_found || i == insert_after)) end = eol;
    out += end;
    if (section_found && replace == lines.size() && i == insert_after) out += entry + eol;
  }
  if (!section_found) out += "[" + section + "]" + eol + entry + eol;

  // A read-only file refuses the publication, as it would a write.
  std::unique_ptr<ScratchFile> scratch;
  Status s = fs_->CreateScratch(folder, &scratch);
  if (s.ok()) s = scratch->Append(out);
  if (s.ok()) s = scratch->Sync();
  uint32_t uid = 0, gid = 0, mode = 0;
  fs_->NewFileDefaults(&uid, &gid, &mode);
  if (s.ok() && existed) (void)scratch->SetOwner(old_info.uid, old_info.gid);
  if (s.ok()) s = scratch->SetMode(existed ? old_info.mode : mode);
  if (s.ok()) s = scratch->Publish(path);
  if (!s.ok()) return false;
  (void)fs_->SyncFolder(folder);
  return true;
}

}  // namespace vok
