#include "voktools/unc_name.h"

#include <algorithm>

#include "frame/builtin_classes.h"
#include "platform/env.h"
#include "platform/network.h"
#include "platform/profile_store.h"
#include "voktools/ascii.h"
#include "voktools/common.h"

namespace vok {

namespace {

// Answers of the network service.
constexpr uint32_t kNoError = 0;
constexpr uint32_t kNotNetwork = 2250;      // not a network drive
constexpr uint32_t kServiceFailed = 1208;   // the mount table could not be read

constexpr uint32_t kOlderFamily = 1;
constexpr uint32_t kNtFamily = 2;
constexpr uint32_t kMinorOfLaterOlderFamily = 10;

constexpr std::string_view kDriveSection = "Drives";
// The machine-name buffer holds 15 characters and the NUL.
constexpr size_t kMachineNameChars = 15;

bool IsUnc(std::string_view path) {
  return path.size() > 2 && (path[0] == '\\' || path[0] == '/') && path[1] == path[0];
}

std::string Backslashed(std::string text) {
  std::replace(text.begin(), text.end(), '/', '\\');
  return text;
}

std::string Slashed(std::string text) {
  std::replace(text.begin(), text.end(), '\\', '/');
  return text;
}

// folder and rest joined by exactly one separator (none for an empty rest).
std::string Joined(std::string folder, std::string_view rest, char separator) {
  while (!rest.empty() && (rest[0] == '/' || rest[0] == '\\')) rest.remove_prefix(1);
  if (rest.empty()) return folder;
  if (folder.empty() || (folder.back() != '/' && folder.back() != '\\')) folder += separator;
  return folder + std::string(rest);
}

}  // namespace

clsUNCName::clsUNCName() : clsUNCName(CurrentEnv()) {}
clsUNCName::clsUNCName(Env& env) : env_(env) {}
clsUNCName::~clsUNCName() = default;

const PlatformVersion& clsUNCName::Version() {
  if (!version_) version_ = std::make_unique<PlatformVersion>(env_.machine->Version());
  return *version_;
}

bool clsUNCName::IsWinNT() { return Version().platform_id == kNtFamily; }

bool clsUNCName::IsWin95() {
  return Version().platform_id == kOlderFamily && Version().minor < kMinorOfLaterOlderFamily;
}

std::string clsUNCName::CurrentMachineName() {
  std::string name;
  if (!env_.machine->HostName(&name).ok() || name.size() > kMachineNameChars) return {};
  return AsciiUpperCopy(name);
}

std::string clsUNCName::DriveFolder(char drive) {
  if (env_.profile == nullptr) return {};
  return env_.profile->GetString(std::string(kDriveSection), std::string(1, AsciiUpper(drive)), "",
                                 std::string(kDefaultINIFile), 1024);
}

uint32_t clsUNCName::UniversalNameOfLocal(const std::string& local, std::string* remote) {
  std::vector<Mount> mounts;
  if (!env_.mounts->Read(&mounts).ok()) return kServiceFailed;
  std::optional<std::string> name = NetworkName(mounts, local);
  if (!name) return kNotNetwork;
  *remote = std::move(*name);
  return kNoError;
}

// The remote name of drive's folder with rest below it.
uint32_t clsUNCName::DriveConnection(char drive, const std::string& rest, std::string* remote) {
  const std::string folder = DriveFolder(drive);
  if (IsUnc(folder)) {
    *remote = Joined(Backslashed(folder), Backslashed(rest), '\\');
    return kNoError;
  }
  if (folder.empty() || folder[0] != '/') return kNotNetwork;
  return UniversalNameOfLocal(Joined(folder, Slashed(rest), '/'), remote);
}

std::string clsUNCName::GetUNCName() {
  const std::string& result = filename_;
  if (result.size() < 2 || result[1] != ':') return result;
  const char drive = AsciiUpper(result[0]);
  if (drive < 'A' || drive > 'Z') return result;

  std::string remote;
  uint32_t answer;
  if (IsWin95()) {
    // The older family asks for the drive's connection and appends the path.
    answer = DriveConnection(drive, "", &remote);
    if (answer == kNoError) return remote + result.substr(2);
  } else {
    answer = DriveConnection(drive, result.substr(2), &remote);
  }
  // With UseShare the machine's shares are matched against the path as the
  // drive map makes it local here, or as written when it does not.
  std::string compared = result;
  if (const std::string folder = DriveFolder(drive); !folder.empty() && folder[0] == '/') {
    compared = Joined(folder, Slashed(result.substr(2)), '/');
  }
  return Finish(answer, remote, result, compared);
}

std::string clsUNCName::GetUNCNameOfLocalPath(const std::string& path) {
  if (path.empty() || path[0] != '/') return path;
  std::string remote;
  return Finish(UniversalNameOfLocal(path, &remote), remote, path, path);
}

std::string clsUNCName::Finish(uint32_t answer, const std::string& remote,
                               const std::string& given, const std::string& compared) {
  if (answer == kNoError) return remote;
  if (answer != kNotNetwork) return {};
  if (!use_share_) return given;

  const ShareListing listing = env_.shares->Read();
  int32_t count = listing.ok ? static_cast<int32_t>(listing.entries.size()) : 0;
  if (Version().platform_id != kOlderFamily) {
    if (listing.names_only) count = -count;
    // Set whenever only names could be read, even when there were none.
    need_admin_privs_ = listing.ok && listing.names_only;
  }
  if (count <= 0) return given;
  for (const ShareEntry& share : listing.entries) {
    if (share.type != 0 || share.path.empty() || share.path.size() > compared.size()) continue;
    if (!EqualsIgnoreCase(std::string_view(compared).substr(0, share.path.size()), share.path)) {
      continue;
    }
    std::string_view rest = std::string_view(compared).substr(share.path.size());
    while (!rest.empty() && (rest[0] == '/' || rest[0] == '\\')) rest.remove_prefix(1);
    return "\\\\" + CurrentMachineName() + "\\" + share.name + "\\" +
           Backslashed(std::string(rest));
  }
  return given;
}

std::optional<std::string> clsUNCName::LocalPathOf(const std::string& unc) {
  if (!IsUnc(unc)) return std::nullopt;
  std::vector<Mount> mounts;
  if (env_.mounts->Read(&mounts).ok()) {
    if (std::optional<std::string> local = vok::LocalPathOf(mounts, unc)) return local;
  }
  // \\THIS-MACHINE\share\rest: the folder of that share.
  const std::string parts = Backslashed(unc.substr(2));
  const size_t server_end = parts.find('\\');
  const std::string machine = CurrentMachineName();
  if (server_end == std::string::npos || machine.empty() ||
      !EqualsIgnoreCase(parts.substr(0, server_end), machine)) {
    return std::nullopt;
  }
  const size_t share_end = parts.find('\\', server_end + 1);
  const std::string share = parts.substr(server_end + 1, share_end - server_end - 1);
  const std::string rest = share_end == std::string::npos ? "" : parts.substr(share_end + 1);
  const ShareListing listing = env_.shares->Read();
  for (const ShareEntry& entry : listing.entries) {
    if (entry.type == 0 && !entry.path.empty() && EqualsIgnoreCase(entry.name, share)) {
      return Joined(entry.path, Slashed(rest), '/');
    }
  }
  return std::nullopt;
}

template <>
const ClassTypeInfo& detail::TypeInfoOf<clsUNCName>() {
  using C = clsUNCName;
  using T = MemberTable<C>;
  using V = VarType;
  using M = MemberKind;
  static const ClassTypeInfo info{
      "clsUNCName",
      {
          T::Property("uncNeedAdminPrivs", 1, M::kGetLet, V::kBool, &C::uncNeedAdminPrivs,
                      &C::uncNeedAdminPrivs),
          T::Method("GetUNCName", 2, {}, V::kText, &C::GetUNCName),
          T::Method("IsWinNT", 3, {}, V::kBool, &C::IsWinNT),
          T::Method("IsWin95", 4, {}, V::kBool, &C::IsWin95),
          T::Method("CurrentMachineName", 5, {}, V::kText, &C::CurrentMachineName),
          T::Property("Filename", 6, M::kGetLet, V::kText, &C::Filename, &C::Filename),
          T::Property("UseShare", 7, M::kGetLet, V::kBool, &C::UseShare, &C::UseShare),
      }};
  return info;
}

const ClassTypeInfo& clsUNCName::TypeInfo() const { return detail::TypeInfoOf<clsUNCName>(); }

}  // namespace vok
