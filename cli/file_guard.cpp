#include "file_guard.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string_view>

#include "platform/env.h"

namespace vok::cli {

namespace {

// The first bytes of the object files the two extractions write.
constexpr std::string_view kRtfObjectStart = "{\\v\\vok OBJ 1 }\r\n";
constexpr std::string_view kMifObjectStart = "<QUONObj ";

// One spelling per file name, so that "./a.obj" and "a.obj" compare equal.
std::string NameKey(const std::string& path) {
  return std::filesystem::path(NativePath(path)).lexically_normal().string();
}

FileSystem& Fs() { return *CurrentEnv().fs; }

enum class Found { kNothing, kRegular, kOther, kDanglingLink };

// What path names, following a symbolic link.
Found Look(const std::string& path) {
  FileInfo info;
  if (!Fs().GetLinkInfo(path, &info).ok()) return Found::kNothing;
  if (info.is_link && !Fs().GetInfo(path, &info).ok()) return Found::kDanglingLink;
  return info.is_regular ? Found::kRegular : Found::kOther;
}

}  // namespace

std::optional<std::string> NotRegularInput(const std::string& path) {
  if (Look(path) != Found::kOther) return std::nullopt;
  return "not a regular file";
}

std::optional<std::string> FileHead(const std::string& path, size_t n) {
  std::unique_ptr<ReadableFile> file;
  if (!Fs().OpenForRead(path, &file).ok()) return std::nullopt;
  std::string head(n, '\0');
  size_t got = 0;
  if (!file->Read(n, head.data(), &got).ok()) return std::nullopt;
  head.resize(got);
  return head;
}

std::string WhyUnreadable(const std::string& path) {
  if (std::optional<std::string> why = NotRegularInput(path)) return *why;
  std::unique_ptr<ReadableFile> file;
  const Status s = Fs().OpenForRead(path, &file);
  return s.ok() ? std::string() : s.message();
}

std::string WhyNoFileBeside(const std::string& path) {
  // A scratch file dropped unpublished leaves nothing behind.
  std::unique_ptr<ScratchFile> file;
  const Status s = Fs().CreateScratch(FolderOf(NativePath(path)), &file);
  return s.ok() ? std::string() : s.message();
}

ObjectKind ObjectKindOf(const std::string& path) {
  const std::string head = FileHead(path, kRtfObjectStart.size()).value_or("");
  if (head.starts_with(kRtfObjectStart)) return ObjectKind::kRtf;
  if (head.starts_with(kMifObjectStart)) return ObjectKind::kMif;
  return ObjectKind::kNone;
}

bool SameFile(const std::string& a, const std::string& b) {
  return NameKey(a) == NameKey(b) || vok::SameFile(Fs(), a, b);
}

void RunOutputs::Claim(const std::string& output, const std::string& input) {
  FileInfo info;
  if (!Fs().GetInfo(output, &info).ok()) return;
  by_name_.emplace(NameKey(output), input);
  by_id_.emplace(std::pair(info.device, info.inode), input);
}

const std::string* RunOutputs::ClaimedBy(const std::string& output) const {
  if (auto it = by_name_.find(NameKey(output)); it != by_name_.end()) return &it->second;
  FileInfo info;
  if (by_id_.empty() || !Fs().GetInfo(output, &info).ok()) return nullptr;
  auto it = by_id_.find(std::pair(info.device, info.inode));
  return it == by_id_.end() ? nullptr : &it->second;
}

std::optional<Refusal> RefuseOutput(const std::string& output, const OutputCheck& check,
                                    const RunOutputs& run) {
  constexpr const char* kNever = "; not replaced, even with --force";
  if (const std::string* input = run.ClaimedBy(output)) {
    return Refusal{output + " is also the " + check.what + " of " + *input + " in this run" +
                   kNever};
  }
  switch (Look(output)) {
    case Found::kNothing:
      return std::nullopt;
    case Found::kOther:
      return Refusal{output + " is not a regular file" + kNever};
    case Found::kRegular:
    case Found::kDanglingLink:
      break;
  }
  const ObjectKind kind =
      check.foreign == ObjectKind::kNone ? ObjectKind::kNone : ObjectKindOf(output);
  if (kind != ObjectKind::kNone && kind == check.foreign) {
    return Refusal{
        output +
        (kind == ObjectKind::kRtf
             ? " holds the objects of an RTF file (written by voktools rtf extract)"
             : " holds the insets of a MIF file (written by voktools mif remove-objects)") +
        kNever};
  }
  if (check.force) return std::nullopt;
  return Refusal{std::string(check.what) + " " + output +
                     " already exists; not replaced (--force replaces it)",
                 /*exists=*/true};
}

std::optional<std::string> MoveBackupAside(const std::string& backup, std::string* error) {
  FileInfo info;
  if (!Fs().GetLinkInfo(backup, &info).ok()) return std::string();
  constexpr int kMostBackups = 1000000;
  for (int n = 1; n <= kMostBackups; ++n) {
    const std::string to = backup + "." + std::to_string(n);
    const Status s = Fs().RenameNoReplace(backup, to);
    if (s.ok()) return to;
    if (s.code() != EEXIST) {
      *error = s.message();
      return std::nullopt;
    }
  }
  *error = "no free name " + backup + ".N";
  return std::nullopt;
}

}  // namespace vok::cli
