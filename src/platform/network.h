// What the machine knows about network file systems: the mounts of this
// process (and which of them come from a file server), the folders that the
// machine itself publishes as shares, its name and its version record.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace vok {

// One line of /proc/self/mountinfo, its escapes (\040 for a blank) decoded.
struct Mount {
  std::string mount_point;  // where it is mounted here
  std::string root;         // the folder of the source file system mounted there
  std::string fs_type;      // "cifs", "nfs4", "ext4", ...
  std::string source;       // "//server/share", "server:/export", "/dev/sda1", ...
};

// The lines of a mountinfo text, in order; malformed lines are passed over.
std::vector<Mount> ParseMountInfo(std::string_view text);

// The mount that holds the absolute path: the longest mount point that is
// the path itself or one of its folders (the last such line on a tie, as a
// later mount hides an earlier one). Null when none does.
const Mount* MountHolding(const std::vector<Mount>& mounts, std::string_view path);

// "\\server\share" for a mount of a file server (cifs and smb3 from
// "//server/share", nfs and nfs4 from "server:/export", the export's
// folders as "\" parts), with the mounted root below the source appended;
// nothing for any other file system.
std::optional<std::string> NetworkRoot(const Mount& mount);

// The network form of an absolute local path: the network root of the mount
// holding it and the rest of the path below the mount point, in "\" form.
// Nothing when that mount is not a file server's.
std::optional<std::string> NetworkName(const std::vector<Mount>& mounts, std::string_view path);

// The local path of "\\server\share\rest" (or "//server/share/rest") where
// a mount of that share, or of a folder above it, is mounted here; server
// and share names compare without regard to case. Nothing when it is
// mounted nowhere.
std::optional<std::string> LocalPathOf(const std::vector<Mount>& mounts, std::string_view unc);

// A folder that the machine publishes. Only name, type and path are used.
struct ShareEntry {
  std::string name;
  int32_t type = 0;  // 0: a disk share
  std::string remark;
  int32_t permissions = 0;
  int32_t max_uses = -1;
  int32_t current_uses = 0;
  std::string path;  // empty when it could not be read
  std::string password;
};

struct ShareListing {
  // False when the list could not be read at all.
  bool ok = true;
  // True when only names could be read, no paths.
  bool names_only = false;
  std::vector<ShareEntry> entries;
};

// The disk shares of a Samba configuration text, in order: sections with a
// "path =", except [global], [homes], [printers] and sections that say
// "printable = yes" (or "print ok"). Names keep their case; keys ignore case
// and blanks around "=".
std::vector<ShareEntry> ParseSambaShares(std::string_view text);

// The "usershare path" of a configuration's [global] section, or empty.
std::string UserShareFolder(std::string_view text);

// A user share: a file of the usershare folder ("path=", "comment=",
// "sharename=" lines; its file name is the share's name in lower case) or a
// section of "net usershare info" output. Nothing without a path.
std::optional<ShareEntry> ParseUserShare(std::string_view text, std::string_view file_name);

// The version record of the running system.
struct PlatformVersion {
  uint32_t major = 0;
  uint32_t minor = 0;
  uint32_t build = 0;
  // Neither 1 (the older desktop family) nor 2 (the NT family) here.
  uint32_t platform_id = 0;
  std::string service_text;
};

// The mounts of this process.
class MountTable {
 public:
  virtual ~MountTable() = default;
  virtual Status Read(std::vector<Mount>* mounts) = 0;
};

// The folders this machine publishes.
class ShareList {
 public:
  virtual ~ShareList() = default;
  virtual ShareListing Read() = 0;
};

// The machine's name and version.
class MachineInfo {
 public:
  virtual ~MachineInfo() = default;
  virtual Status HostName(std::string* name) = 0;
  virtual PlatformVersion Version() = 0;
};

// Reads a mountinfo file (by default this process's).
class ProcMountTable : public MountTable {
 public:
  explicit ProcMountTable(std::string file = "/proc/self/mountinfo") : file_(std::move(file)) {}
  Status Read(std::vector<Mount>* mounts) override;

 private:
  std::string file_;
};

// Samba's shares: those of its configuration file, then its user shares
// (the files of the usershare folder: the configuration's "usershare path",
// else usershare_folder). A missing file or folder holds no shares; one that
// cannot be read leaves the listing with names only.
class SambaShareList : public ShareList {
 public:
  explicit SambaShareList(std::string config = "/etc/samba/smb.conf",
                          std::string usershare_folder = "/var/lib/samba/usershares")
      : config_(std::move(config)), usershare_folder_(std::move(usershare_folder)) {}
  ShareListing Read() override;

 private:
  std::string config_;
  std::string usershare_folder_;
};

// gethostname and uname.
class PosixMachineInfo : public MachineInfo {
 public:
  Status HostName(std::string* name) override;
  PlatformVersion Version() override;
};

}  // namespace vok
