#include "unc_command.h"

#include <ostream>

#include "json_text.h"
#include "platform/posix_profile_store.h"
#include "voktools/ascii.h"
#include "voktools/common.h"
#include "voktools/unc_name.h"

namespace vok::cli {

namespace {

bool HasDriveLetter(const std::string& path) {
  const char drive = AsciiUpper(path.empty() ? '\0' : path[0]);
  return path.size() >= 2 && path[1] == ':' && drive >= 'A' && drive <= 'Z';
}

// Why path has no network form; name is what the class answered.
std::string Reason(clsUNCName& unc, const std::string& path, const std::string& name) {
  const std::string shares = unc.UseShare() ? " nor in a folder this machine shares" : "";
  if (name.empty()) return "the mount table could not be read";
  if (HasDriveLetter(path)) {
    const std::string drive = std::string(1, AsciiUpper(path[0])) + ":";
    const std::string folder = unc.DriveFolder(path[0]);
    if (folder.empty()) {
      return "not a network drive: " + drive + " is not in the drive map ([Drives] of " +
             PosixProfileStore::ProfileFolder() + std::string(kDefaultINIFile) + ")";
    }
    return "not a network drive: " + drive + " is " + folder + ", not on a network mount" + shares;
  }
  if (!path.empty() && path[0] == '/') return "not on a network mount" + shares;
  return "no drive letter and not an absolute path";
}

}  // namespace

int RunUnc(const UncOptions& options, std::ostream& out, std::ostream& err) {
  int status = 0;
  clsUNCName unc;
  unc.UseShare(options.use_share);
  for (const std::string& path : options.paths) {
    Json report = {{"path", TextToJson(path)}};
    std::string shown = path;
    std::string reason;
    if (options.reverse) {
      std::optional<std::string> local = unc.LocalPathOf(path);
      if (local) {
        shown = *local;
      } else {
        reason = path.size() > 2 && (path[0] == '\\' || path[0] == '/') && path[1] == path[0]
                     ? "not mounted here (no network mount of that share, and not a share "
                       "of this machine)"
                     : "not a network name (\\\\server\\share\\path)";
      }
      report["local"] = local ? TextToJson(*local) : Json(nullptr);
    } else {
      std::string name;
      if (!path.empty() && path[0] == '/') {
        name = unc.GetUNCNameOfLocalPath(path);
      } else {
        unc.Filename(path);
        name = unc.GetUNCName();
      }
      const bool network = !name.empty() && name != path;
      if (network) shown = name;
      else reason = Reason(unc, path, name);
      report["name"] = TextToJson(name);
      report["network"] = network;
    }
    if (!reason.empty()) {
      status = kUncUnresolved;
      report["reason"] = reason;
      err << "voktools unc: " << path << ": " << reason << '\n';
    }
    if (options.json) {
      out << report.dump() << '\n';
    } else {
      out << shown << '\n';
    }
  }
  if (options.use_share && unc.uncNeedAdminPrivs()) {
    err << "voktools: warning: the machine's share list could be read only without the "
           "shared folders; this user may not read the Samba configuration or user shares\n";
  }
  return status;
}

}  // namespace vok::cli
