#include "support/memory_file_system.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace vok::test {

namespace {

enum Kind { kFile, kFolder, kLink };

constexpr int kMaxLinkHops = 40;

std::vector<std::string> Components(std::string_view path) {
  std::vector<std::string> out;
  size_t at = 0;
  while (at <= path.size()) {
    size_t slash = path.find('/', at);
    if (slash == std::string_view::npos) slash = path.size();
    if (slash > at) out.emplace_back(path.substr(at, slash - at));
    at = slash + 1;
  }
  return out;
}

std::string WithSlash(std::string folder) {
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

}  // namespace

struct MemoryFileSystem::Node {
  int kind = kFile;
  std::string data;  // a file's bytes, a link's target
  std::string durable_data;
  uint32_t mode = 0, uid = kUid, gid = kGid;
  uint32_t durable_mode = 0, durable_uid = kUid, durable_gid = kGid;
  uint64_t inode = 0;
  uint64_t device = 1;
  std::map<std::string, NodeRef> entries;
  std::map<std::string, NodeRef> durable_entries;

  void MakeDurable() {
    durable_data = data;
    MakeAttributesDurable();
  }
  void MakeAttributesDurable() {
    durable_mode = mode;
    durable_uid = uid;
    durable_gid = gid;
  }
  bool ReadOnlyFile() const { return kind == kFile && (mode & S_IWUSR) == 0; }
  bool Writable() const { return (mode & S_IWUSR) != 0; }
};

namespace {

using Node = MemoryFileSystem::Node;
using NodeRef = MemoryFileSystem::NodeRef;

// Reads a snapshot-free view of a file: the bytes as they are at each Read.
class MemoryReadable : public ReadableFile {
 public:
  MemoryReadable(MemoryFileSystem* fs, NodeRef node, std::string path)
      : fs_(fs),
        node_(std::move(node)),
        path_(std::move(path)),
        generation_(fs->generation()),
        size_(static_cast<int64_t>(node_->data.size())) {}

  Status Read(size_t n, char* buf, size_t* got) override {
    *got = 0;
    Status s = fs_->Enter("Read", path_);
    if (!s.ok()) return s;
    if (generation_ != fs_->generation()) return Status::FromErrno(EIO);
    const std::string& data = node_->data;
    if (pos_ < static_cast<int64_t>(data.size())) {
      *got = std::min(n, data.size() - static_cast<size_t>(pos_));
      std::memcpy(buf, data.data() + pos_, *got);
      pos_ += static_cast<int64_t>(*got);
    }
    return Status::OK();
  }

  Status Seek(int64_t offset) override {
    Status s = fs_->Enter("Seek", path_);
    if (!s.ok()) return s;
    if (offset < 0) return Status::FromErrno(EINVAL);
    pos_ = offset;
    return Status::OK();
  }

  int64_t Size() const override { return size_; }
  int64_t Tell() const override { return pos_; }

 private:
  MemoryFileSystem* fs_;
  NodeRef node_;
  std::string path_;
  uint64_t generation_;
  int64_t size_;
  int64_t pos_ = 0;
};

// An unnamed file until Publish gives it a name. Calls are matched against
// the failure rules by its folder, then by the name it was published under.
class MemoryScratch : public ScratchFile {
 public:
  MemoryScratch(MemoryFileSystem* fs, NodeRef node, std::string folder)
      : fs_(fs), node_(std::move(node)), path_(std::move(folder)), generation_(fs->generation()) {}

  Status Append(std::string_view data) override {
    return Change("Append", [&] {
      node_->data.append(data);
      return Status::OK();
    });
  }
  Status Sync() override {
    return Change("Sync", [&] {
      node_->MakeDurable();
      return Status::OK();
    });
  }
  Status Close() override {
    Status s = fs_->Enter("Close", path_);
    if (s.ok()) closed_ = true;
    return s;
  }
  Status SetOwner(uint32_t uid, uint32_t gid) override {
    return Change("ScratchOwner", [&] {
      if (uid != MemoryFileSystem::kUid || gid != MemoryFileSystem::kGid) {
        return Status::FromErrno(EPERM);
      }
      node_->uid = uid;
      node_->gid = gid;
      node_->mode &= ~06000u;
      return Status::OK();
    });
  }
  Status SetMode(uint32_t mode) override {
    return Change("ScratchMode", [&] {
      node_->mode = mode & 07777;
      return Status::OK();
    });
  }
  Status Publish(const std::string& path) override {
    Status s = fs_->Mutate("Publish", path, [&] {
      if (closed_) return Status::FromErrno(EBADF);
      if (generation_ != fs_->generation()) return Status::FromErrno(EIO);
      return fs_->PublishNode(node_, path);
    });
    if (s.ok()) path_ = path;
    return s;
  }

 private:
  Status Change(const std::string& op, const std::function<Status()>& apply) {
    return fs_->Mutate(op, path_, [&] {
      if (closed_) return Status::FromErrno(EBADF);
      if (generation_ != fs_->generation()) return Status::FromErrno(EIO);
      return apply();
    });
  }

  MemoryFileSystem* fs_;
  NodeRef node_;
  std::string path_;
  uint64_t generation_;
  bool closed_ = false;
};

class MemoryLock : public FileLock {
 public:
  MemoryLock(MemoryFileSystem* fs, uint64_t inode) : fs_(fs), inode_(inode), generation_(fs->generation()) {}
  ~MemoryLock() override { fs_->Unlock(inode_, generation_); }

 private:
  MemoryFileSystem* fs_;
  uint64_t inode_;
  uint64_t generation_;
};

}  // namespace

MemoryFileSystem::MemoryFileSystem() {
  root_ = NewNode(kFolder, nullptr);
  root_->mode = 0755;
  root_->MakeAttributesDurable();
  MakeFolder(temp_path_);
}

MemoryFileSystem::~MemoryFileSystem() = default;

NodeRef MemoryFileSystem::NewNode(int kind, const NodeRef& folder) {
  auto node = std::make_shared<Node>();
  node->kind = kind;
  node->inode = next_inode_++;
  node->device = folder ? folder->device : 1;
  return node;
}

Status MemoryFileSystem::Locate(const std::string& path, bool follow_last, Place* place,
                                int depth) {
  if (path.empty()) return Status::FromErrno(ENOENT);
  const bool folder_wanted = path.back() == '/';
  std::vector<std::string> todo = Components(path);
  std::reverse(todo.begin(), todo.end());
  // The folders walked through, from the root, with their names.
  std::vector<std::pair<NodeRef, std::string>> chain = {{root_, ""}};
  auto joined = [&chain] {
    std::string out;
    for (size_t i = 1; i < chain.size(); ++i) out += "/" + chain[i].second;
    return out.empty() ? std::string("/") : out;
  };
  int hops = depth;
  while (!todo.empty()) {
    std::string name = std::move(todo.back());
    todo.pop_back();
    if (name == ".") continue;
    if (name == "..") {
      if (chain.size() > 1) chain.pop_back();
      continue;
    }
    const NodeRef& folder = chain.back().first;
    if (folder->kind != kFolder) return Status::FromErrno(ENOTDIR);
    const bool last = todo.empty();
    auto it = folder->entries.find(name);
    if (it == folder->entries.end()) {
      if (!last) return Status::FromErrno(ENOENT);
      const std::string base = joined();
      *place = Place{folder, name, (base == "/" ? "" : base) + "/" + name, nullptr};
      return Status::OK();
    }
    NodeRef node = it->second;
    if (node->kind == kLink && (!last || follow_last || folder_wanted)) {
      if (++hops > kMaxLinkHops) return Status::FromErrno(ELOOP);
      if (!node->data.empty() && node->data[0] == '/') chain.resize(1);
      std::vector<std::string> more = Components(node->data);
      todo.insert(todo.end(), more.rbegin(), more.rend());
      continue;
    }
    chain.emplace_back(node, name);
  }
  if (folder_wanted && chain.back().first->kind != kFolder) return Status::FromErrno(ENOTDIR);
  const NodeRef parent = chain.size() > 1 ? chain[chain.size() - 2].first : root_;
  *place = Place{parent, chain.back().second, joined(), chain.back().first};
  return Status::OK();
}

Status MemoryFileSystem::Existing(const std::string& path, bool follow_last, Place* place) {
  Status s = Locate(path, follow_last, place);
  if (s.ok() && !place->node) s = Status::FromErrno(ENOENT);
  return s;
}

FileInfo MemoryFileSystem::InfoOf(const Node& node) const {
  FileInfo info;
  info.is_dir = node.kind == kFolder;
  info.is_regular = node.kind == kFile;
  info.is_link = node.kind == kLink;
  info.mode = node.mode & 07777;
  info.read_only = (node.mode & S_IWUSR) == 0;
  info.uid = node.uid;
  info.gid = node.gid;
  info.size = node.kind == kFolder ? 4096 : static_cast<int64_t>(node.data.size());
  info.device = node.device;
  info.inode = node.inode;
  return info;
}

// --- Setting up and looking. ---

void MemoryFileSystem::MakeFolder(const std::string& path, uint32_t mode) {
  NodeRef folder = root_;
  for (const std::string& name : Components(path)) {
    NodeRef& child = folder->entries[name];
    if (!child) {
      child = NewNode(kFolder, folder);
      child->mode = mode;
      child->MakeAttributesDurable();
      folder->durable_entries[name] = child;
    }
    folder = child;
  }
}

void MemoryFileSystem::WriteFile(const std::string& path, const std::string& bytes,
                                 uint32_t mode) {
  const size_t slash = path.rfind('/');
  const std::string folder_path = slash == std::string::npos ? "/" : path.substr(0, slash + 1);
  MakeFolder(folder_path);
  Place place;
  Status s = Locate(WithSlash(folder_path), true, &place);
  if (!s.ok() || !place.node) return;
  NodeRef node = NewNode(kFile, place.node);
  node->data = bytes;
  node->mode = mode;
  node->MakeDurable();
  const std::string name = path.substr(slash + 1);
  place.node->entries[name] = node;
  place.node->durable_entries[name] = node;
}

void MemoryFileSystem::MakeLink(const std::string& path, const std::string& target) {
  WriteFile(path, target, 0777);
  Place place;
  if (Locate(path, false, &place).ok() && place.node) place.node->kind = kLink;
}

void MemoryFileSystem::MountDevice(const std::string& folder) {
  Place place;
  if (!Locate(WithSlash(folder), true, &place).ok()) return;
  const uint64_t device = next_device_++;
  std::function<void(const NodeRef&)> mark = [&](const NodeRef& node) {
    node->device = device;
    for (auto& [name, child] : node->entries) mark(child);
  };
  mark(place.node);
}

bool MemoryFileSystem::ReadFile(const std::string& path, std::string* bytes) {
  Place place;
  if (!Locate(path, true, &place).ok() || !place.node || place.node->kind != kFile) return false;
  *bytes = place.node->data;
  return true;
}

bool MemoryFileSystem::Exists(const std::string& path) {
  Place place;
  return Locate(path, false, &place).ok() && place.node != nullptr;
}

std::map<std::string, std::string> MemoryFileSystem::Files(const std::string& folder) {
  std::map<std::string, std::string> out;
  Place place;
  if (!Locate(WithSlash(folder), true, &place).ok()) return out;
  std::function<void(const NodeRef&, const std::string&)> walk = [&](const NodeRef& node,
                                                                     const std::string& path) {
    for (const auto& [name, child] : node->entries) {
      const std::string full = path + name;
      if (child->kind == kFolder) {
        walk(child, full + "/");
      } else {
        out[full] = child->kind == kLink ? "-> " + child->data : child->data;
      }
    }
  };
  walk(place.node, WithSlash(place.path));
  return out;
}

// --- Failures and crashes. ---

void MemoryFileSystem::FailOp(const std::string& op, int err, const std::string& path_part,
                              int skip) {
  rules_.push_back({op, err, path_part, skip});
}

int MemoryFileSystem::Calls(const std::string& op) const {
  auto it = calls_.find(op);
  return it == calls_.end() ? 0 : it->second;
}

Status MemoryFileSystem::Enter(const std::string& op, const std::string& path) {
  ++calls_[op];
  if (down_) return Status::FromErrno(EIO);
  for (Rule& r : rules_) {
    if (r.op != op || path.find(r.path_part) == std::string::npos) continue;
    if (r.skip > 0) {
      --r.skip;
      continue;
    }
    return Status::FromErrno(r.err);
  }
  return Status::OK();
}

Status MemoryFileSystem::Mutate(const std::string& op, const std::string& path,
                                const std::function<Status()>& apply) {
  if (!down_) {
    ++mutations_;
    if (crash_countdown_ > 0 && --crash_countdown_ == 0) crash_pending_ = true;
  }
  Status s = Enter(op, path);
  if (s.ok()) s = apply();
  if (crash_pending_) {
    crash_pending_ = false;
    Crash();
    down_ = true;
  }
  return s;
}

void MemoryFileSystem::Crash() {
  {
    std::lock_guard hold(lock_mutex_);
    locked_.clear();
    ++generation_;
  }
  lock_released_.notify_all();
  ++pid_;
  std::function<void(const NodeRef&)> revert = [&](const NodeRef& node) {
    node->data = node->durable_data;
    node->mode = node->durable_mode;
    node->uid = node->durable_uid;
    node->gid = node->durable_gid;
    if (node->kind != kFolder) return;
    node->entries = node->durable_entries;
    for (const auto& [name, child] : node->entries) revert(child);
  };
  revert(root_);
}

void MemoryFileSystem::SyncEverything() {
  std::function<void(const NodeRef&)> sync = [&](const NodeRef& node) {
    node->MakeDurable();
    if (node->kind != kFolder) return;
    node->durable_entries = node->entries;
    for (const auto& [name, child] : node->entries) sync(child);
  };
  sync(root_);
}

void MemoryFileSystem::Restart() {
  down_ = false;
  crash_pending_ = false;
  crash_countdown_ = 0;
  mutations_ = 0;
}

void MemoryFileSystem::SweepStale(const NodeRef& folder) {
  for (auto it = folder->entries.begin(); it != folder->entries.end();) {
    long pid = 0;
    std::string host;
    if (ParseScratchName(it->first, &pid, &host) && host == "memory" && pid != pid_ &&
        it->second->kind == kFile) {
      it = folder->entries.erase(it);
    } else {
      ++it;
    }
  }
}

std::string MemoryFileSystem::PrivateName() {
  return ScratchName("", ++private_counter_, pid_, "memory");
}

// --- FileSystem. ---

Status MemoryFileSystem::OpenForRead(const std::string& path,
                                     std::unique_ptr<ReadableFile>* file) {
  Status s = Enter("OpenForRead", path);
  Place place;
  if (s.ok()) s = Existing(path, true, &place);
  if (!s.ok()) return s;
  if (place.node->kind == kFolder) return Status::FromErrno(EISDIR);
  if ((place.node->mode & S_IRUSR) == 0) return Status::FromErrno(EACCES);
  *file = std::make_unique<MemoryReadable>(this, place.node, path);
  return Status::OK();
}

Status MemoryFileSystem::GetInfo(const std::string& path, FileInfo* info) {
  Status s = Enter("GetInfo", path);
  Place place;
  if (s.ok()) s = Existing(path, true, &place);
  if (s.ok()) *info = InfoOf(*place.node);
  return s;
}

Status MemoryFileSystem::GetLinkInfo(const std::string& path, FileInfo* info) {
  Status s = Enter("GetLinkInfo", path);
  Place place;
  if (s.ok()) s = Existing(path, false, &place);
  if (s.ok()) *info = InfoOf(*place.node);
  return s;
}

Status MemoryFileSystem::ResolveLink(const std::string& path, std::string* resolved) {
  Status s = Enter("ResolveLink", path);
  Place place;
  if (s.ok()) s = Existing(path, true, &place);
  if (s.ok()) *resolved = place.path;
  return s;
}

Status MemoryFileSystem::SetMode(const std::string& path, uint32_t mode) {
  return Mutate("SetMode", path, [&] {
    Place place;
    Status s = Existing(path, true, &place);
    if (!s.ok()) return s;
    if (place.node->uid != kUid) return Status::FromErrno(EPERM);
    place.node->mode = mode & 07777;
    return Status::OK();
  });
}

Status MemoryFileSystem::SetOwner(const std::string& path, uint32_t uid, uint32_t gid) {
  return Mutate("SetOwner", path, [&] {
    Place place;
    Status s = Existing(path, false, &place);
    if (!s.ok()) return s;
    Node* node = place.node.get();
    if (node->uid != kUid || uid != kUid || gid != kGid) return Status::FromErrno(EPERM);
    node->uid = uid;
    node->gid = gid;
    if (node->kind == kFile) node->mode &= ~06000u;
    return Status::OK();
  });
}

Status MemoryFileSystem::CheckRemovable(const std::string& path) {
  Status s = Enter("CheckRemovable", path);
  Place place;
  if (s.ok()) s = Existing(path, false, &place);
  if (!s.ok()) return s;
  if (place.node->kind == kFolder) return Status::FromErrno(EISDIR);
  if (place.node->ReadOnlyFile() || !place.folder->Writable()) return Status::FromErrno(EACCES);
  return Status::OK();
}

Status MemoryFileSystem::Remove(const std::string& path) {
  return Mutate("Remove", path, [&] {
    Place place;
    Status s = Existing(path, false, &place);
    if (!s.ok()) return s;
    if (place.node->kind == kFolder) return Status::FromErrno(EISDIR);
    if (place.node->ReadOnlyFile() || !place.folder->Writable()) return Status::FromErrno(EACCES);
    place.folder->entries.erase(place.name);
    return Status::OK();
  });
}

Status MemoryFileSystem::Rename(const std::string& from, const std::string& to) {
  return Mutate("Rename", to, [&] {
    Place source, target;
    Status s = Locate(to, false, &target);
    if (s.ok() && target.node && target.node->ReadOnlyFile()) s = Status::FromErrno(EACCES);
    if (s.ok()) s = Existing(from, false, &source);
    if (!s.ok()) return s;
    if (source.node->kind != kFolder && (from.back() == '/' || to.back() == '/')) {
      return Status::FromErrno(ENOTDIR);
    }
    if (target.node == source.node) return Status::OK();
    if (source.node == root_ || target.node == root_) return Status::FromErrno(EBUSY);
    if (!source.folder->Writable() || !target.folder->Writable()) return Status::FromErrno(EACCES);
    if (source.node->device != target.folder->device) return Status::FromErrno(EXDEV);
    if (target.node) {
      const bool from_folder = source.node->kind == kFolder;
      const bool to_folder = target.node->kind == kFolder;
      // A folder that holds the source is never empty.
      if (to_folder && source.path.starts_with(target.path + "/")) {
        return Status::FromErrno(ENOTEMPTY);
      }
      if (to_folder && !from_folder) return Status::FromErrno(EISDIR);
      if (from_folder && !to_folder) return Status::FromErrno(ENOTDIR);
      if (to_folder && !target.node->entries.empty()) return Status::FromErrno(ENOTEMPTY);
    }
    if (source.node->kind == kFolder && (target.path + "/").starts_with(source.path + "/")) {
      return Status::FromErrno(EINVAL);
    }
    NodeRef node = source.node;
    source.folder->entries.erase(source.name);
    target.folder->entries[target.name] = node;
    return Status::OK();
  });
}

Status MemoryFileSystem::PublishNode(const NodeRef& node, const std::string& path) {
  Place target;
  Status s = Locate(path, false, &target);
  if (!s.ok()) return s;
  if (path.back() == '/') return Status::FromErrno(ENOTDIR);
  if (target.node && target.node->kind == kFolder) return Status::FromErrno(EISDIR);
  if (target.node && target.node->ReadOnlyFile()) return Status::FromErrno(EACCES);
  if (!target.folder->Writable()) return Status::FromErrno(EACCES);
  if (node->device != target.folder->device) return Status::FromErrno(EXDEV);
  target.folder->entries[target.name] = node;
  return Status::OK();
}

Status MemoryFileSystem::CreateScratch(const std::string& folder,
                                       std::unique_ptr<ScratchFile>* file) {
  Status s = Enter("CreateScratch", folder);
  Place place;
  if (s.ok()) s = Existing(WithSlash(folder), true, &place);
  if (!s.ok()) return s;
  if (!place.node->Writable()) return Status::FromErrno(EACCES);
  SweepStale(place.node);
  NodeRef node = NewNode(kFile, place.node);
  node->mode = 0600;
  *file = std::make_unique<MemoryScratch>(this, node, WithSlash(place.path));
  return Status::OK();
}

Status MemoryFileSystem::KeepPrivateLink(const std::string& path, std::string* private_name) {
  return Mutate("KeepPrivateLink", path, [&] {
    Place place;
    Status s = Existing(path, false, &place);
    if (!s.ok()) return s;
    if (place.node->kind == kFolder) return Status::FromErrno(EPERM);
    if (!place.folder->Writable()) return Status::FromErrno(EACCES);
    SweepStale(place.folder);
    const std::string name = PrivateName();
    place.folder->entries[name] = place.node;
    const size_t slash = place.path.rfind('/');
    *private_name = place.path.substr(0, slash + 1) + name;
    return Status::OK();
  });
}

Status MemoryFileSystem::RenameNoReplace(const std::string& from, const std::string& to) {
  Place target;
  if (Locate(to, false, &target).ok() && target.node) return Status::FromErrno(EEXIST);
  return Rename(from, to);
}

Status MemoryFileSystem::RemoveFolder(const std::string& path) {
  return Mutate("RemoveFolder", path, [&] {
    Place place;
    Status s = Existing(path, false, &place);
    if (!s.ok()) return s;
    if (place.node->kind != kFolder) return Status::FromErrno(ENOTDIR);
    if (!place.node->entries.empty()) return Status::FromErrno(ENOTEMPTY);
    if (place.node == root_) return Status::FromErrno(EBUSY);
    if (!place.folder->Writable()) return Status::FromErrno(EACCES);
    place.folder->entries.erase(place.name);
    return Status::OK();
  });
}

Status MemoryFileSystem::CreateFolder(const std::string& path, uint32_t mode) {
  return Mutate("CreateFolder", path, [&] {
    Place place;
    Status s = Locate(path, false, &place);
    if (!s.ok()) return s;
    if (place.node) return Status::FromErrno(EEXIST);
    if (!place.folder->Writable()) return Status::FromErrno(EACCES);
    NodeRef folder = NewNode(kFolder, place.folder);
    folder->mode = mode & 07777 & ~022u;
    place.folder->entries[place.name] = folder;
    return Status::OK();
  });
}

Status MemoryFileSystem::Lock(const std::string& path, LockWait wait,
                              std::unique_ptr<FileLock>* lock) {
  Status s = Enter("Lock", path);
  Place place;
  if (s.ok()) s = Existing(path, true, &place);
  if (!s.ok()) return s;
  const uint64_t inode = place.node->inode;
  std::unique_lock hold(lock_mutex_);
  if (wait == LockWait::kNoWait && locked_.contains(inode)) return Status::FromErrno(EWOULDBLOCK);
  lock_released_.wait(hold, [&] { return !locked_.contains(inode); });
  locked_.insert(inode);
  *lock = std::make_unique<MemoryLock>(this, inode);
  return Status::OK();
}

void MemoryFileSystem::Unlock(uint64_t inode, uint64_t generation) {
  {
    std::lock_guard hold(lock_mutex_);
    if (generation == generation_) locked_.erase(inode);
  }
  lock_released_.notify_all();
}

Status MemoryFileSystem::SyncFolder(const std::string& folder) {
  return Mutate("SyncFolder", folder, [&] {
    Place place;
    Status s = Existing(WithSlash(folder), true, &place);
    if (!s.ok()) return s;
    Node& dir = *place.node;
    dir.durable_entries = dir.entries;
    dir.MakeAttributesDurable();
    for (const auto& [name, child] : dir.entries) child->MakeAttributesDurable();
    return Status::OK();
  });
}

void MemoryFileSystem::NewFileDefaults(uint32_t* uid, uint32_t* gid, uint32_t* mode) {
  *uid = kUid;
  *gid = kGid;
  *mode = 0666 & ~022u;
}

Status MemoryFileSystem::FindFirst(const std::string& pattern, FindKind kind,
                                   std::string* found) {
  Status s = Enter("FindFirst", pattern);
  if (!s.ok()) return s;
  const size_t slash = pattern.rfind('/');
  const std::string folder = slash == std::string::npos ? "/" : pattern.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? pattern : pattern.substr(slash + 1);
  if (name.empty()) return Status::FromErrno(ENOENT);
  auto accepts = [&](const std::string& path) {
    Place place;
    Status s = Existing(path, true, &place);
    const bool taken = s.ok() && (place.node->kind == kFile ||
                                  (kind == FindKind::kFilesAndFolders && place.node->kind == kFolder));
    if (s.ok() && !taken) s = Status::FromErrno(ENOENT);
    return s;
  };
  if (name.find_first_of("*?") == std::string::npos) {
    s = accepts(pattern);
    if (s.ok()) *found = name;
    return s;
  }
  Place dir;
  s = Existing(folder, true, &dir);
  if (!s.ok()) return s;
  for (const auto& [entry, child] : dir.node->entries) {
    if (WildcardMatch(name, entry) && accepts(folder + entry).ok()) {
      *found = entry;
      return Status::OK();
    }
  }
  return Status::FromErrno(ENOENT);
}

}  // namespace vok::test
