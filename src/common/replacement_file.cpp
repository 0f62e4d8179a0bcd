#include "common/replacement_file.h"

#include <sys/stat.h>

#include "platform/env.h"
#include "platform/windowing.h"
#include "voktools/automation_error.h"
#include "voktools/collection.h"
#include "voktools/messages.h"

namespace vok {

namespace {

constexpr std::string_view kCRLF = "\r\n";
constexpr size_t kCopyChunk = 1 << 20;

// Messages go to any object with an Add member; anything else records nothing.
class MessageSink {
 public:
  explicit MessageSink(const Variant& target) {
    if (target.IsObject()) list_ = *target.get_if<ObjectRef>();
  }
  void Add(std::string text) {
    if (!list_) return;
    try {
      list_->Call("Add", {Variant(std::move(text))});
    } catch (const AutomationError&) {
      // The count reports the failure; a list that refuses is ignored.
    }
  }

 private:
  ObjectRef list_;
};

std::string Text(MessageId id) { return std::string(Message(id)); }

}  // namespace

Status CopyContents(ReadableFile& in, WritableFile& out) {
  std::string chunk(kCopyChunk, '\0');
  while (true) {
    size_t got = 0;
    Status s = in.Read(chunk.size(), chunk.data(), &got);
    if (!s.ok() || got == 0) return s;
    s = out.Append(std::string_view(chunk.data(), got));
    if (!s.ok()) return s;
  }
}

Status CopyFile(Env& env, const std::string& from, const std::string& to,
                const OutputOptions& options) {
  std::unique_ptr<ReadableFile> in;
  Status s = env.fs->OpenForRead(from, &in);
  if (!s.ok()) return s;
  ReplacementFile out;
  s = out.Start(env, to, options);
  if (!s.ok()) return s;
  s = CopyContents(*in, out.file());
  if (s.ok()) s = out.Close();
  if (!s.ok()) return s;
  auto errors = Collection::Create();
  if (out.Commit(Variant(ObjectRef(errors))) != 0) {
    return Status::Error(EIO, errors->Count() > 0 ? errors->Texts().back() : "");
  }
  return s;
}

int16_t ReplaceWithRetry(FileSystem& fs, const std::string& target, const Variant& errors,
                         const std::function<Status()>& replace) {
  MessageSink sink(errors);
  bool first_try = true;
  FileInfo made_writable;
  bool cleared = false;
  auto fail = [&](const std::string& text) {
    sink.Add(text);
    if (cleared) (void)fs.SetMode(target, made_writable.mode);
    return int16_t{1};
  };
  while (true) {
    FileInfo info;
    Status removable;
    // The name as written: '*' and '?' are plain characters here.
    const bool exists = fs.GetLinkInfo(target, &info).ok();
    if (exists) removable = fs.CheckRemovable(target);
    if (removable.ok()) {
      Status s = replace();
      if (!s.ok())
        return fail(Text(MessageId::kErrorCopying) + target + std::string(kCRLF) + s.message());
      return 0;
    }
    if (first_try && info.is_regular && info.read_only) {
      first_try = false;
      cleared = MakeWritable(fs, target, &made_writable);
      sink.Add(Text(MessageId::kErrorDeleting) + target + std::string(kCRLF) +
               Text(MessageId::kUnsettingReadOnly));
      continue;
    }
    return fail(Text(MessageId::kErrorDeleting) + target + std::string(kCRLF) +
                removable.message());
  }
}

Status ReplacementFile::Start(Env& env, const std::string& target, OutputOptions options) {
  Abandon();
  env_ = &env;
  FileSystem& fs = *env.fs;
  target_ = target;
  os_target_ = target;
  committed_ = false;
  FileInfo info;
  had_target_ = fs.GetLinkInfo(target, &info).ok();
  if (had_target_ && info.is_link) {
    FileInfo pointed;
    if (options.follow_link && fs.GetInfo(target, &pointed).ok()) {
      Status s = fs.ResolveLink(target, &os_target_);
      if (!s.ok()) return s;
      info = pointed;
    } else {
      // The link goes; nothing is learnt from what it points to.
      info = FileInfo{};
      info.is_regular = true;
      had_target_ = false;
    }
  }
  if (had_target_ && info.is_dir) return Status::FromErrno(EISDIR);
  if (had_target_ && !info.is_regular) return Status::Error(EINVAL, "Not a regular file");

  Attributes a;
  fs.NewFileDefaults(&a.uid, &a.gid, &a.mode);
  FileInfo model;
  const bool have_model = !options.model.empty() && fs.GetInfo(options.model, &model).ok() &&
                          model.is_regular;
  auto take = [&a](const FileInfo& from) {
    a.mode = from.mode;
    a.uid = from.uid;
    a.gid = from.gid;
    a.from_file = true;
  };
  if (options.kind == OutputKind::kSideFile && have_model) {
    take(model);
    a.mode |= S_IWUSR;
  } else if (had_target_) {
    take(info);
    a.read_only = info.read_only;
  } else if (have_model) {
    take(model);
    a.mode |= S_IWUSR;
  }
  attributes_ = a;
  return fs.CreateScratch(FolderOf(os_target_), &file_);
}

Status ReplacementFile::Close() { return file_->Sync(); }

int16_t ReplacementFile::Commit(const Variant& errors, bool keep_previous) {
  FileSystem& fs = *env_->fs;
  MessageSink sink(errors);
  // Close() synced the file; a write that failed since is caught here.
  Status s = file_->Sync();
  if (!s.ok()) {
    Abandon();
    sink.Add(Text(MessageId::kErrorCopying) + target_ + std::string(kCRLF) + s.message());
    return 1;
  }
  if (attributes_.from_file) {
    s = file_->SetOwner(attributes_.uid, attributes_.gid);
    if (!s.ok()) {
      Warn(target_ + ": its owner and group could not be kept (" + s.message() + ")");
    }
  }
  s = file_->SetMode(attributes_.mode);
  if (!s.ok()) Warn(target_ + ": its permissions could not be kept (" + s.message() + ")");

  previous_.clear();
  if (keep_previous && had_target_ && !fs.KeepPrivateLink(os_target_, &previous_).ok()) {
    previous_.clear();
    Abandon();
    sink.Add(Text(MessageId::kErrorDeleting) + target_ + std::string(kCRLF) +
             "Unable to keep its previous content");
    return 1;
  }
  const int16_t failed =
      ReplaceWithRetry(fs, os_target_, errors, [&] { return file_->Publish(os_target_); });
  if (failed != 0) {
    Abandon();
    Release();
    return failed;
  }
  file_.reset();
  committed_ = true;
  (void)fs.SyncFolder(FolderOf(os_target_));
  if (attributes_.read_only) {
    Warn(target_ + ": read-only, replaced all the same; it is read-only again");
  }
  return 0;
}

void ReplacementFile::Abandon() { file_.reset(); }

Status ReplacementFile::Revert() {
  if (!committed_) return Status::OK();
  FileSystem& fs = *env_->fs;
  committed_ = false;
  Status s;
  if (!previous_.empty()) {
    // The kept name is private to this run: it simply goes back.
    s = fs.Rename(previous_, os_target_);
    if (s.code() == EACCES && MakeWritable(fs, os_target_)) s = fs.Rename(previous_, os_target_);
    if (s.ok()) previous_.clear();
  } else {
    (void)MakeWritable(fs, os_target_);
    s = fs.Remove(os_target_);
  }
  if (s.ok()) (void)fs.SyncFolder(FolderOf(os_target_));
  return s;
}

void ReplacementFile::Release() {
  if (previous_.empty()) return;
  FileSystem& fs = *env_->fs;
  // The private name is the old content's last one; a read-only file is
  // removed all the same.
  (void)MakeWritable(fs, previous_);
  (void)fs.Remove(previous_);
  previous_.clear();
}

int16_t MoveOver(Env& env, const std::string& from, const std::string& to, const Variant& errors) {
  FileSystem& fs = *env.fs;
  if (SameFile(fs, from, to)) {
    // Moving a file onto itself would delete its only copy afterwards. Two
    // names of one file (a rename that a crash left half done) are not
    // that: the source name goes.
    std::string a, b;
    if (fs.ResolveLink(from, &a).ok() && fs.ResolveLink(to, &b).ok() && a != b) {
      FileInfo before;
      const bool made_writable = MakeWritable(fs, from, &before);
      if (fs.Remove(from).ok()) (void)fs.SyncFolder(FolderOf(from));
      if (made_writable) (void)fs.SetMode(to, before.mode);
    }
    return 0;
  }
  FileInfo source;
  if (!fs.GetInfo(from, &source).ok() || !source.is_regular) {
    Status s = fs.GetInfo(from, &source);
    if (s.ok()) s = Status::FromErrno(EISDIR);
    MessageSink(errors).Add(Text(MessageId::kErrorCopying) + to + std::string(kCRLF) + s.message());
    return 1;
  }
  FileInfo target;
  const bool had_target = fs.GetLinkInfo(to, &target).ok() && target.is_regular;
  const int16_t failed = ReplaceWithRetry(fs, to, errors, [&]() -> Status {
    FileInfo link;
    const bool plain = fs.GetLinkInfo(from, &link).ok() && !link.is_link;
    if (plain) {
      // The source takes the target's attributes before it takes its place.
      if (had_target) {
        if (link.uid != target.uid || link.gid != target.gid) {
          (void)fs.SetOwner(from, target.uid, target.gid);
        }
        (void)fs.SetMode(from, target.mode);
      }
      Status s = fs.Rename(from, to);
      if (s.ok()) {
        // The new name is made durable before the old one's removal.
        (void)fs.SyncFolder(FolderOf(to));
        if (FolderOf(from) != FolderOf(to)) (void)fs.SyncFolder(FolderOf(from));
        return s;
      }
      // Not moved: the source gets its own attributes back (a read-only
      // mode taken from the target would keep it from being removed later).
      if (had_target) {
        if (link.uid != target.uid || link.gid != target.gid) {
          (void)fs.SetOwner(from, link.uid, link.gid);
        }
        (void)fs.SetMode(from, link.mode);
      }
      if (s.code() != EXDEV) return s;
    }
    // Another file system, or a link whose target is what moves: a copy.
    std::unique_ptr<ReadableFile> in;
    Status s = fs.OpenForRead(from, &in);
    if (!s.ok()) return s;
    std::unique_ptr<ScratchFile> out;
    s = fs.CreateScratch(FolderOf(to), &out);
    if (s.ok()) s = CopyContents(*in, *out);
    if (s.ok()) s = out->Sync();
    const FileInfo& keep = had_target ? target : source;
    if (s.ok() && had_target) (void)out->SetOwner(keep.uid, keep.gid);
    if (s.ok()) s = out->SetMode(keep.mode);
    if (s.ok()) s = out->Publish(to);
    if (s.ok()) (void)fs.SyncFolder(FolderOf(to));
    return s;
  });
  // After a failed step the source may hold the only copy of the new content.
  if (failed == 0 && fs.Remove(from).ok()) (void)fs.SyncFolder(FolderOf(from));
  return failed;
}

}  // namespace vok
