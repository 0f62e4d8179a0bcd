// clsUNCName: the network (UNC) form \\server\share\rest of a drive-letter
// path, so that a file has the same name on every machine of a team.
//
// Drive letters come from the drive map, section [Drives] of the library's
// INI file ("Z=/mnt/projects", or "Z=\\server\share" for a share that is
// not mounted here). A drive whose folder lies on a file server's mount
// (cifs, smb3, nfs, nfs4) gets that server's name; with UseShare, a path in
// a folder that this machine publishes gets \\THIS-MACHINE\share\rest.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "voktools/dispatch.h"
#include "voktools/export.h"

namespace vok {

struct Env;
struct PlatformVersion;

VOK_PUBLIC_BEGIN

class clsUNCName : public Dispatch {
 public:
  clsUNCName();
  ~clsUNCName() override;

  bool uncNeedAdminPrivs() const { return need_admin_privs_; }
  void uncNeedAdminPrivs(bool value) { need_admin_privs_ = value; }
  // The network form of Filename; Filename itself when it has no drive
  // letter or no network form; the empty text when the network service
  // gave an unexpected answer (the mount table could not be read).
  std::string GetUNCName();
  // The platform family of the version record; false on this platform.
  bool IsWinNT();
  bool IsWin95();
  // The host name in upper case; empty when it cannot be read or is longer
  // than 15 characters.
  std::string CurrentMachineName();
  const std::string& Filename() const { return filename_; }
  void Filename(std::string value) { filename_ = std::move(value); }
  bool UseShare() const { return use_share_; }
  void UseShare(bool value) { use_share_ = value; }

  // Beyond the automation interface:
  // The folder (or "\\server\share") that the drive map gives a drive
  // letter, or empty.
  std::string DriveFolder(char drive);
  // The network form of an absolute local path (/mnt/projects/a.mif), by
  // the rules GetUNCName applies to a drive's folder.
  std::string GetUNCNameOfLocalPath(const std::string& path);
  // Where \\server\share\rest is here: below the mount of that share, or
  // in the folder of one of this machine's own shares. Nothing when the
  // share is mounted nowhere (or the mount table cannot be read).
  std::optional<std::string> LocalPathOf(const std::string& unc);

  const ClassTypeInfo& TypeInfo() const override;

 private:
  // The library and its tests construct on a given environment (WithEnv).
  template <class T>
  friend struct WithEnv;
  VOK_LOCAL explicit clsUNCName(Env& env);

  // A network service's answer: 0 with the remote name, kNotNetwork, or
  // another number for a failure of the service itself.
  uint32_t UniversalNameOfLocal(const std::string& local, std::string* remote);
  uint32_t DriveConnection(char drive, const std::string& rest, std::string* remote);
  // What the answer leaves: the remote name, the name through the
  // machine's shares, the name as given, or the empty text.
  std::string Finish(uint32_t answer, const std::string& remote, const std::string& given,
                     const std::string& compared);
  VOK_LOCAL const PlatformVersion& Version();

  Env& env_;
  std::string filename_;
  bool use_share_ = false;
  bool need_admin_privs_ = false;
  std::unique_ptr<PlatformVersion> version_;
};

VOK_PUBLIC_END

}  // namespace vok
