#include "platform/network.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <map>

#include "voktools/ascii.h"

namespace vok {

namespace {

constexpr std::string_view kBlanks = " \t\r";

std::string_view Trim(std::string_view s) {
  const size_t first = s.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(kBlanks) - first + 1);
}

bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualsIgnoreCase(text.substr(0, prefix.size()), prefix);
}

// The kernel writes blank, tab, line feed and backslash in mount fields as
// a backslash and three octal digits.
std::string DecodeMountField(std::string_view field) {
  std::string out;
  out.reserve(field.size());
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size()) {
      const std::string_view digits = field.substr(i + 1, 3);
      if (std::all_of(digits.begin(), digits.end(),
                                             [](char c) { return c >= '0' && c <= '7'; })) {
        out += static_cast<char>(((digits[0] - '0') << 6) | ((digits[1] - '0') << 3) |
                                 (digits[2] - '0'));
        i += 3;
        continue;
      }
    }
    out += field[i];
  }
  return out;
}

std::vector<std::string_view> SplitBlanks(std::string_view line) {
  std::vector<std::string_view> fields;
  size_t pos = 0;
  while (pos < line.size()) {
    const size_t start = line.find_first_not_of(' ', pos);
    if (start == std::string_view::npos) break;
    size_t end = line.find(' ', start);
    if (end == std::string_view::npos) end = line.size();
    fields.push_back(line.substr(start, end - start));
    pos = end;
  }
  return fields;
}

// True when folder is path itself or one of its folders.
bool HoldsPath(std::string_view folder, std::string_view path) {
  if (folder == "/") return !path.empty() && path[0] == '/';
  return path.substr(0, folder.size()) == folder &&
         (path.size() == folder.size() || path[folder.size()] == '/');
}

// The "/" parts of a path as "\" parts, empty parts dropped: "/a//b/" is
// "\a\b".
std::string BackslashParts(std::string_view path) {
  std::string out;
  size_t pos = 0;
  while (pos < path.size()) {
    size_t end = path.find_first_of("/\\", pos);
    if (end == std::string_view::npos) end = path.size();
    if (end > pos) {
      out += '\\';
      out += path.substr(pos, end - pos);
    }
    pos = end + 1;
  }
  return out;
}

bool IsNetworkType(std::string_view type) {
  return type == "cifs" || type == "smb3" || type == "nfs" || type == "nfs4";
}

// The lines of a text, with continuation lines (ending in "\") joined.
std::vector<std::string> ConfigLines(std::string_view text) {
  std::vector<std::string> lines;
  std::string pending;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    pos = end + 1;
    if (!line.empty() && line.back() == '\\') {
      pending += line.substr(0, line.size() - 1);
      continue;
    }
    pending += line;
    lines.push_back(std::move(pending));
    pending.clear();
  }
  return lines;
}

// A parameter name as Samba compares them: without blanks, any case.
std::string KeyName(std::string_view key) {
  std::string out;
  for (char c : key) {
    if (c != ' ' && c != '\t') out += AsciiLower(c);
  }
  return out;
}

bool IsYes(std::string_view value) {
  return EqualsIgnoreCase(value, "yes") || EqualsIgnoreCase(value, "true") || value == "1";
}

struct Section {
  std::string name;
  std::map<std::string, std::string> params;  // by KeyName
};

// The sections of an INI-like text in order of first appearance; a section
// named again continues the first one. Parameters before any section go to
// a section without a name.
std::vector<Section> ParseSections(std::string_view text) {
  std::vector<Section> sections(1);
  size_t current = 0;
  for (const std::string& raw : ConfigLines(text)) {
    const std::string_view line = Trim(raw);
    if (line.empty() || line[0] == '#' || line[0] == ';') continue;
    if (line[0] == '[') {
      const size_t close = line.find(']');
      const std::string name(Trim(line.substr(1, close == std::string_view::npos ? line.size() - 1 : close - 1)));
      auto same = std::find_if(sections.begin() + 1, sections.end(),
                               [&](const Section& s) { return EqualsIgnoreCase(s.name, name); });
      if (same == sections.end()) {
        sections.push_back({name, {}});
        same = sections.end() - 1;
      }
      current = static_cast<size_t>(same - sections.begin());
      continue;
    }
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    sections[current].params[KeyName(line.substr(0, eq))] = std::string(Trim(line.substr(eq + 1)));
  }
  return sections;
}

const std::string* Param(const Section& section, std::string_view key) {
  auto it = section.params.find(std::string(key));
  return it == section.params.end() ? nullptr : &it->second;
}

// The whole of a small file; false with errno set when it cannot be read.
bool ReadWholeFile(const std::string& path, std::string* text) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  text->clear();
  char buffer[8192];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int saved = errno;
      ::close(fd);
      errno = saved;
      return false;
    }
    if (n == 0) break;
    text->append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  return true;
}

}  // namespace

std::vector<Mount> ParseMountInfo(std::string_view text) {
  std::vector<Mount> mounts;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    const std::vector<std::string_view> fields = SplitBlanks(text.substr(pos, end - pos));
    pos = end + 1;
    // id parent major:minor root mount-point options [optional...] - type source super-options
    const auto dash = std::find(fields.begin(), fields.end(), "-");
    if (fields.size() < 6 || dash - fields.begin() < 6 || fields.end() - dash < 3) continue;
    mounts.push_back({DecodeMountField(fields[4]), DecodeMountField(fields[3]),
                      DecodeMountField(dash[1]), DecodeMountField(dash[2])});
  }
  return mounts;
}

const Mount* MountHolding(const std::vector<Mount>& mounts, std::string_view path) {
  const Mount* best = nullptr;
  for (const Mount& m : mounts) {
    if (HoldsPath(m.mount_point, path) &&
        (best == nullptr || m.mount_point.size() >= best->mount_point.size())) {
      best = &m;
    }
  }
  return best;
}

std::optional<std::string> NetworkRoot(const Mount& mount) {
  if (!IsNetworkType(mount.fs_type)) return std::nullopt;
  std::string source = mount.source;
  std::replace(source.begin(), source.end(), '\\', '/');
  std::string server, folder;
  if (mount.fs_type == "cifs" || mount.fs_type == "smb3") {
    if (source.size() < 3 || source.compare(0, 2, "//") != 0) return std::nullopt;
    const size_t slash = source.find('/', 2);
    server = source.substr(2, slash == std::string::npos ? std::string::npos : slash - 2);
    if (slash != std::string::npos) folder = source.substr(slash);
  } else {
    const size_t colon = source.find(":/");
    if (colon == std::string::npos || colon == 0) return std::nullopt;
    server = source.substr(0, colon);
    folder = source.substr(colon + 1);
  }
  if (server.empty()) return std::nullopt;
  // A bind mount of a folder of the share names that folder in its root;
  // a share mounted at a folder may name it in both.
  folder = BackslashParts(folder);
  const std::string root = BackslashParts(mount.root);
  if (!root.empty() && (folder.size() < root.size() ||
                        folder.compare(folder.size() - root.size(), root.size(), root) != 0)) {
    folder += root;
  }
  if (folder.empty()) return std::nullopt;  // a server without a share
  return "\\\\" + server + folder;
}

std::optional<std::string> NetworkName(const std::vector<Mount>& mounts, std::string_view path) {
  const Mount* mount = MountHolding(mounts, path);
  if (mount == nullptr) return std::nullopt;
  std::optional<std::string> root = NetworkRoot(*mount);
  if (!root) return std::nullopt;
  const size_t below = mount->mount_point == "/" ? 0 : mount->mount_point.size();
  return *root + BackslashParts(path.substr(below));
}

std::optional<std::string> LocalPathOf(const std::vector<Mount>& mounts, std::string_view unc) {
  const std::string wanted = BackslashParts(unc);  // "\server\share\rest"
  const Mount* best = nullptr;
  size_t best_length = 0;
  for (const Mount& m : mounts) {
    std::optional<std::string> root = NetworkRoot(m);
    if (!root) continue;
    const std::string_view parts = std::string_view(*root).substr(1);  // "\server\share"
    if (StartsWithIgnoreCase(wanted, parts) &&
        (wanted.size() == parts.size() || wanted[parts.size()] == '\\') &&
        (best == nullptr || parts.size() > best_length)) {
      best = &m;
      best_length = parts.size();
    }
  }
  if (best == nullptr) return std::nullopt;
  std::string rest = wanted.substr(best_length);
  std::replace(rest.begin(), rest.end(), '\\', '/');
  if (best->mount_point == "/") return rest.empty() ? "/" : rest;
  return best->mount_point + rest;
}

std::vector<ShareEntry> ParseSambaShares(std::string_view text) {
  std::vector<ShareEntry> shares;
  for (const Section& section : ParseSections(text)) {
    if (section.name.empty() || EqualsIgnoreCase(section.name, "global") ||
        EqualsIgnoreCase(section.name, "homes") || EqualsIgnoreCase(section.name, "printers")) {
      continue;
    }
    const std::string* path = Param(section, "path");
    if (path == nullptr || path->empty()) continue;
    const std::string* printable = Param(section, "printable");
    if (printable == nullptr) printable = Param(section, "printok");
    if (printable != nullptr && IsYes(*printable)) continue;
    ShareEntry entry;
    entry.name = section.name;
    entry.path = *path;
    if (const std::string* comment = Param(section, "comment")) entry.remark = *comment;
    shares.push_back(std::move(entry));
  }
  return shares;
}

std::string UserShareFolder(std::string_view text) {
  for (const Section& section : ParseSections(text)) {
    if (!EqualsIgnoreCase(section.name, "global")) continue;
    if (const std::string* folder = Param(section, "usersharepath")) return *folder;
  }
  return {};
}

std::optional<ShareEntry> ParseUserShare(std::string_view text, std::string_view file_name) {
  const std::vector<Section> sections = ParseSections(text);
  const Section& section = sections.size() > 1 ? sections[1] : sections[0];
  const std::string* path = Param(section, "path");
  if (path == nullptr || path->empty()) return std::nullopt;
  ShareEntry entry;
  entry.name = section.name.empty() ? std::string(file_name) : section.name;
  if (const std::string* name = Param(section, "sharename"); name != nullptr && !name->empty()) {
    entry.name = *name;
  }
  entry.path = *path;
  if (const std::string* comment = Param(section, "comment")) entry.remark = *comment;
  return entry;
}

Status ProcMountTable::Read(std::vector<Mount>* mounts) {
  std::string text;
  if (!ReadWholeFile(file_, &text)) return Status::FromErrno(errno);
  *mounts = ParseMountInfo(text);
  return Status::OK();
}

ShareListing SambaShareList::Read() {
  ShareListing listing;
  std::string config;
  if (ReadWholeFile(config_, &config)) {
    listing.entries = ParseSambaShares(config);
  } else if (errno != ENOENT) {
    listing.names_only = true;
  }
  std::string folder = UserShareFolder(config);
  if (folder.empty()) folder = usershare_folder_;
  if (DIR* dir = ::opendir(folder.c_str())) {
    std::vector<std::string> names;
    while (const dirent* e = ::readdir(dir)) {
      if (e->d_name[0] != '.') names.emplace_back(e->d_name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
      std::string text;
      if (!ReadWholeFile(folder + "/" + name, &text)) {
        listing.names_only = true;
        ShareEntry unread;
        unread.name = name;
        listing.entries.push_back(std::move(unread));
      } else if (std::optional<ShareEntry> share = ParseUserShare(text, name)) {
        listing.entries.push_back(std::move(*share));
      }
    }
  } else if (errno != ENOENT && errno != ENOTDIR) {
    listing.names_only = true;
  }
  if (listing.names_only) {
    for (ShareEntry& entry : listing.entries) entry.path.clear();
  }
  return listing;
}

Status PosixMachineInfo::HostName(std::string* name) {
  char buffer[HOST_NAME_MAX + 1] = {};
  if (::gethostname(buffer, sizeof buffer - 1) != 0) return Status::FromErrno(errno);
  *name = buffer;
  return Status::OK();
}

PlatformVersion PosixMachineInfo::Version() {
  PlatformVersion version;
  utsname names{};
  if (::uname(&names) != 0) return version;
  // "6.8.0-45-generic": major 6, minor 8, build 0.
  uint32_t* parts[] = {&version.major, &version.minor, &version.build};
  const char* p = names.release;
  for (uint32_t* part : parts) {
    while (*p >= '0' && *p <= '9') *part = *part * 10 + static_cast<uint32_t>(*p++ - '0');
    if (*p != '.') break;
    ++p;
  }
  version.service_text = names.version;
  return version;
}

}  // namespace vok
