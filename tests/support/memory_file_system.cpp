#include "support/memory_file_system.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <vector>

namespace vok::test {

namespace {

Status Err(int e) { return Status::FromErrno(e); }

std::string WithSlash(std::string folder) {
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

struct Node;
using NodeRef = std::shared_ptr<Node>;

struct Node {
  bool folder = false;
  std::string data, durable_data;
  uint32_t mode = 0, durable_mode = 0;
  uint64_t inode = 0, device = 1;
  std::map<std::string, NodeRef> entries, durable_entries;

  bool Writable() const { return (mode & S_IWUSR) != 0; }
  bool ReadOnlyFile() const { return !folder && !Writable(); }
};

// Runs f on node, then on everything below it (as f leaves the entries).
void Walk(Node& node, const std::function<void(Node&)>& f) {
  f(node);
  for (const auto& [name, child] : node.entries) Walk(*child, f);
}

// Where a name leads: its folder, its last component, its canonical path and
// its node (null when the name does not exist).
struct Place {
  NodeRef folder;
  std::string name, path;
  NodeRef node;
};

class MemoryReadable : public ReadableFile {
 public:
  explicit MemoryReadable(NodeRef node) : node_(std::move(node)), size_(node_->data.size()) {}
  Status Read(size_t n, char* buf, size_t* got) override {
    const std::string& data = node_->data;
    *got = pos_ < data.size() ? std::min(n, data.size() - pos_) : 0;
    std::memcpy(buf, data.data() + pos_, *got);
    pos_ += *got;
    return Status::OK();
  }
  Status Seek(int64_t offset) override {
    if (offset < 0) return Err(EINVAL);
    pos_ = static_cast<size_t>(offset);
    return Status::OK();
  }
  int64_t Size() const override { return static_cast<int64_t>(size_); }
  int64_t Tell() const override { return static_cast<int64_t>(pos_); }

 private:
  NodeRef node_;
  size_t size_, pos_ = 0;
};

}  // namespace

class MemoryFileSystem::Store : public FileSystem {
 public:
  Store() : root_(NewNode(true, nullptr)) {
    root_->mode = root_->durable_mode = 0755;
    MakeFolder("/tmp", 0755);
  }

  NodeRef NewNode(bool folder, const NodeRef& parent) {
    auto node = std::make_shared<Node>();
    node->folder = folder;
    node->inode = next_inode_++;
    node->device = parent ? parent->device : 1;
    return node;
  }

  Status Locate(const std::string& path, Place* place, bool must_exist = true) {
    if (path.empty()) return Err(ENOENT);
    std::vector<std::pair<NodeRef, std::string>> chain = {{root_, ""}};
    for (size_t at = 0; at < path.size();) {
      size_t slash = path.find('/', at);
      if (slash == std::string::npos) slash = path.size();
      const std::string name = path.substr(at, slash - at);
      at = slash + 1;
      if (name.empty() || name == ".") continue;
      if (name == "..") {
        if (chain.size() > 1) chain.pop_back();
        continue;
      }
      if (!chain.back().first) return Err(ENOENT);
      if (!chain.back().first->folder) return Err(ENOTDIR);
      auto it = chain.back().first->entries.find(name);
      chain.emplace_back(it == chain.back().first->entries.end() ? nullptr : it->second, name);
    }
    place->node = chain.back().first;
    place->name = chain.back().second;
    place->folder = chain.size() > 1 ? chain[chain.size() - 2].first : root_;
    for (size_t i = 1; i < chain.size(); ++i) place->path += "/" + chain[i].second;
    if (place->path.empty()) place->path = "/";
    if (!place->node) return must_exist ? Err(ENOENT) : Status::OK();
    if (path.back() == '/' && !place->node->folder) return Err(ENOTDIR);
    return Status::OK();
  }

  void MakeFolder(const std::string& path, uint32_t mode) {
    NodeRef at = root_;
    size_t from = 0;
    while (from < path.size()) {
      size_t slash = path.find('/', from);
      if (slash == std::string::npos) slash = path.size();
      const std::string name = path.substr(from, slash - from);
      from = slash + 1;
      if (name.empty() || name == ".") continue;
      NodeRef& child = at->entries[name];
      if (!child) {
        child = NewNode(true, at);
        child->mode = child->durable_mode = mode;
        at->durable_entries[name] = child;
      }
      at = child;
    }
  }

  // Removes the private names of earlier processes from folder.
  void SweepStale(Node& folder) {
    std::erase_if(folder.entries, [&](const auto& entry) {
      long pid = 0;
      std::string host;
      return ParseScratchName(entry.first, &pid, &host) && host == "memory" && pid != pid_;
    });
  }

  Status PublishNode(const NodeRef& node, const std::string& path) {
    return At(path, [&](Place& target) {
      if (path.back() == '/') return Err(ENOTDIR);
      if (target.node && target.node->folder) return Err(EISDIR);
      if (target.node && target.node->ReadOnlyFile()) return Err(EACCES);
      if (!target.folder->Writable()) return Err(EACCES);
      if (node->device != target.folder->device) return Err(EXDEV);
      target.folder->entries[target.name] = node;
      return Status::OK();
    }, false);
  }

  // Runs then on where path leads, when Locate finds it.
  Status At(const std::string& path, const std::function<Status(Place&)>& then,
            bool must_exist = true) {
    Place p;
    Status s = Locate(path, &p, must_exist);
    return s.ok() ? then(p) : s;
  }

  Status OpenForRead(const std::string& path, std::unique_ptr<ReadableFile>* file) override {
    return At(path, [&](Place& p) {
      if (p.node->folder) return Err(EISDIR);
      if ((p.node->mode & S_IRUSR) == 0) return Err(EACCES);
      *file = std::make_unique<MemoryReadable>(p.node);
      return Status::OK();
    });
  }
  Status GetInfo(const std::string& path, FileInfo* info) override {
    return At(path, [&](Place& p) {
      const Node& n = *p.node;
      *info = FileInfo{.is_dir = n.folder, .is_regular = !n.folder, .read_only = !n.Writable(),
                       .mode = n.mode & 07777, .uid = kUid, .gid = kUid,
                       .size = n.folder ? 4096 : static_cast<int64_t>(n.data.size()),
                       .device = n.device, .inode = n.inode};
      return Status::OK();
    });
  }
  Status GetLinkInfo(const std::string& path, FileInfo* info) override {
    return GetInfo(path, info);
  }
  Status ResolveLink(const std::string& path, std::string* resolved) override {
    return At(path, [&](Place& p) {
      *resolved = p.path;
      return Status::OK();
    });
  }
  Status SetMode(const std::string& path, uint32_t mode) override {
    return At(path, [&](Place& p) {
      p.node->mode = mode & 07777;
      return Status::OK();
    });
  }
  Status SetOwner(const std::string& path, uint32_t, uint32_t) override {
    return At(path, [](Place&) { return Status::OK(); });
  }
  Status CheckRemovable(const std::string& path) override {
    return At(path, [&](Place& p) {
      if (p.node->folder) return Err(EISDIR);
      return p.node->ReadOnlyFile() || !p.folder->Writable() ? Err(EACCES) : Status::OK();
    });
  }
  Status Remove(const std::string& path) override {
    Status s = CheckRemovable(path);
    if (!s.ok()) return s;
    return At(path, [&](Place& p) {
      p.folder->entries.erase(p.name);
      return Status::OK();
    });
  }
  Status Rename(const std::string& from, const std::string& to) override {
    Place source, target;
    Status s = Locate(to, &target, false);
    if (s.ok() && target.node && target.node->ReadOnlyFile()) s = Err(EACCES);
    if (s.ok()) s = Locate(from, &source);
    if (!s.ok()) return s;
    if (!source.node->folder && (from.back() == '/' || to.back() == '/')) return Err(ENOTDIR);
    if (target.node == source.node) return s;
    if (!source.folder->Writable() || !target.folder->Writable()) return Err(EACCES);
    if (source.node->device != target.folder->device) return Err(EXDEV);
    if (target.node && target.node->folder) {
      // A folder that holds the source is never empty.
      if (source.path.starts_with(target.path + "/")) return Err(ENOTEMPTY);
      return Err(EISDIR);
    }
    source.folder->entries.erase(source.name);
    target.folder->entries[target.name] = source.node;
    return s;
  }
  // Folders are made with MakeFolder, and nothing takes locks.
  Status RenameNoReplace(const std::string&, const std::string&) override { return Err(ENOSYS); }
  Status RemoveFolder(const std::string&) override { return Err(ENOSYS); }
  Status CreateFolder(const std::string&, uint32_t) override { return Err(ENOSYS); }
  Status Lock(const std::string&, LockWait, std::unique_ptr<FileLock>*) override {
    return Err(ENOSYS);
  }
  Status CreateScratch(const std::string& folder, std::unique_ptr<ScratchFile>* file) override;
  Status KeepPrivateLink(const std::string& path, std::string* private_name) override {
    return At(path, [&](Place& p) {
      if (p.node->folder) return Err(EPERM);
      if (!p.folder->Writable()) return Err(EACCES);
      SweepStale(*p.folder);
      const std::string name = ScratchName("", ++private_counter_, pid_, "memory");
      p.folder->entries[name] = p.node;
      *private_name = p.path.substr(0, p.path.rfind('/') + 1) + name;
      return Status::OK();
    });
  }
  Status SyncFolder(const std::string& folder) override {
    return At(WithSlash(folder), [&](Place& p) {
      p.node->durable_entries = p.node->entries;
      p.node->durable_mode = p.node->mode;
      for (const auto& [name, child] : p.node->entries) child->durable_mode = child->mode;
      return Status::OK();
    });
  }
  void NewFileDefaults(uint32_t* uid, uint32_t* gid, uint32_t* mode) override {
    *uid = *gid = kUid;
    *mode = 0644;
  }
  Status FindFirst(const std::string& pattern, FindKind kind, std::string* found) override {
    const std::string name = pattern.substr(pattern.rfind('/') + 1);
    return At(FolderOf(pattern), [&](Place& dir) {
      for (const auto& [entry, child] : dir.node->entries) {
        if (!name.empty() && WildcardMatch(name, entry) &&
            (!child->folder || kind == FindKind::kFilesAndFolders)) {
          *found = entry;
          return Status::OK();
        }
      }
      return Err(ENOENT);
    });
  }
  std::string TempPath() override { return "/tmp/"; }

  NodeRef root_;
  uint64_t next_inode_ = 1, next_device_ = 2;
  long pid_ = 1;
  uint32_t private_counter_ = 0;
};

namespace {

// An unnamed file until Publish gives it a name.
class MemoryScratch : public ScratchFile {
 public:
  MemoryScratch(MemoryFileSystem::Store* store, NodeRef node)
      : store_(store), node_(std::move(node)) {}
  Status Append(std::string_view data) override {
    if (closed_) return Err(EBADF);
    node_->data.append(data);
    return Status::OK();
  }
  Status Sync() override {
    if (closed_) return Err(EBADF);
    node_->durable_data = node_->data;
    node_->durable_mode = node_->mode;
    return Status::OK();
  }
  Status Close() override {
    closed_ = true;
    return Status::OK();
  }
  Status SetOwner(uint32_t, uint32_t) override { return closed_ ? Err(EBADF) : Status::OK(); }
  Status SetMode(uint32_t mode) override {
    if (closed_) return Err(EBADF);
    node_->mode = mode & 07777;
    return Status::OK();
  }
  Status Publish(const std::string& path) override {
    return closed_ ? Err(EBADF) : store_->PublishNode(node_, path);
  }

 private:
  MemoryFileSystem::Store* store_;
  NodeRef node_;
  bool closed_ = false;
};

}  // namespace

Status MemoryFileSystem::Store::CreateScratch(const std::string& folder,
                                              std::unique_ptr<ScratchFile>* file) {
  Place p;
  Status s = Locate(WithSlash(folder), &p);
  if (!s.ok()) return s;
  if (!p.node->Writable()) return Err(EACCES);
  SweepStale(*p.node);
  NodeRef node = NewNode(false, p.node);
  node->mode = 0600;
  *file = std::make_unique<MemoryScratch>(this, node);
  return s;
}

MemoryFileSystem::MemoryFileSystem()
    : FaultFileSystem(nullptr), store_(std::make_unique<Store>()) {
  base_ = store_.get();
}

MemoryFileSystem::~MemoryFileSystem() = default;

void MemoryFileSystem::MakeFolder(const std::string& path, uint32_t mode) {
  store_->MakeFolder(path, mode);
}

void MemoryFileSystem::WriteFile(const std::string& path, const std::string& bytes,
                                 uint32_t mode) {
  const std::string folder = FolderOf(path);
  store_->MakeFolder(folder, 0755);
  Place p;
  if (!store_->Locate(path, &p, false).ok()) return;
  NodeRef node = store_->NewNode(false, p.folder);
  node->data = node->durable_data = bytes;
  node->mode = node->durable_mode = mode;
  p.folder->entries[p.name] = p.folder->durable_entries[p.name] = node;
}

void MemoryFileSystem::MountDevice(const std::string& folder) {
  Place p;
  if (!store_->Locate(WithSlash(folder), &p).ok()) return;
  const uint64_t device = store_->next_device_++;
  Walk(*p.node, [&](Node& node) { node.device = device; });
}

bool MemoryFileSystem::ReadFile(const std::string& path, std::string* bytes) {
  Place p;
  if (!store_->Locate(path, &p).ok() || p.node->folder) return false;
  *bytes = p.node->data;
  return true;
}

std::map<std::string, std::string> MemoryFileSystem::Files(const std::string& folder) {
  std::map<std::string, std::string> out;
  Place p;
  if (!store_->Locate(WithSlash(folder), &p).ok()) return out;
  std::function<void(const Node&, const std::string&)> walk = [&](const Node& node,
                                                                  const std::string& path) {
    for (const auto& [name, child] : node.entries) {
      if (child->folder) {
        walk(*child, path + name + "/");
      } else {
        out[path + name] = child->data;
      }
    }
  };
  walk(*p.node, WithSlash(p.path));
  return out;
}

void MemoryFileSystem::Crash() {
  ++store_->pid_;
  Walk(*store_->root_, [](Node& node) {
    node.data = node.durable_data;
    node.mode = node.durable_mode;
    node.entries = node.durable_entries;
  });
}

void MemoryFileSystem::SyncEverything() {
  Walk(*store_->root_, [](Node& node) {
    node.durable_data = node.data;
    node.durable_mode = node.mode;
    node.durable_entries = node.entries;
  });
}

}  // namespace vok::test
