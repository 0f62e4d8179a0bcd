// Doubles of the drive map, the mount table, the share list and the machine.
#pragma once

#include <cerrno>
#include <map>
#include <string>
#include <vector>

#include "platform/env.h"
#include "platform/network.h"
#include "platform/profile_store.h"
#include "voktools/ascii.h"

namespace vok::test {

// The drive map: [Drives] of the default INI file.
class DriveMapProfile : public ProfileStore {
 public:
  std::string GetString(const std::string& section, const std::string& key,
                        const std::string& default_value, const std::string& file,
                        size_t) override {
    auto it = values.find(AsciiUpperCopy(section + "|" + key + "|" + file));
    return it == values.end() ? default_value : it->second;
  }
  bool WriteString(const std::string&, const std::string&, const std::string&,
                   const std::string&) override {
    return false;
  }
  void MapDrives(const std::vector<std::string>& lines) {
    for (const std::string& line : lines) {
      values[AsciiUpperCopy("Drives|" + line.substr(0, 1) + "|VOK Tools.ini")] = line.substr(2);
    }
  }
  std::map<std::string, std::string> values;
};

// Root on a local disk, a CIFS share at /mnt/projects, /srv on a local disk.
class FakeMounts : public MountTable {
 public:
  Status Read(std::vector<Mount>* mounts) override {
    if (fail) return Status::Error(EACCES, "Permission denied");
    *mounts = ParseMountInfo(text);
    return Status::OK();
  }
  std::string text =
      "1 0 8:1 / / rw - ext4 /dev/sda1 rw\n"
      "2 1 0:40 / /mnt/projects rw - cifs //FileServer/Projects rw\n"
      "3 1 0:41 / /srv rw - xfs /dev/sdb1 rw\n";
  bool fail = false;
};

class FakeShares : public ShareList {
 public:
  ShareListing Read() override { return listing; }
  ShareListing listing;
};

class FakeMachine : public MachineInfo {
 public:
  Status HostName(std::string* name) override {
    if (fail) return Status::Error(EFAULT, "Bad address");
    *name = host;
    return Status::OK();
  }
  PlatformVersion Version() override {
    ++version_reads;
    return version;
  }
  std::string host = "pc";
  bool fail = false;
  PlatformVersion version{6, 8, 0, 0, "#1 SMP"};
  int version_reads = 0;
};

inline ShareEntry Share(const char* name, const char* path, int32_t type = 0) {
  ShareEntry s;
  s.name = name;
  s.path = path;
  s.type = type;
  return s;
}

// The doubles, installed in env.
struct FakeNetwork {
  FakeNetwork() {
    env.profile = &profile;
    env.mounts = &mounts;
    env.shares = &shares;
    env.machine = &machine;
  }
  DriveMapProfile profile;
  FakeMounts mounts;
  FakeShares shares;
  FakeMachine machine;
  Env env;
};

}  // namespace vok::test
