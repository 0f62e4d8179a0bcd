#include "platform/sqlite_registry.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace vok {

namespace {

constexpr std::string_view kClassesPath = "SOFTWARE\\Classes";

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  return out;
}

Status NoKey() { return Status::Error(ENOENT, "The key does not exist"); }
Status NoValue() { return Status::Error(ENOENT, "The value does not exist"); }

// Creates the folders of path that are missing, each with mode 0700.
Status MakeFolders(const std::string& file) {
  for (size_t slash = file.find('/', 1); slash != std::string::npos;
       slash = file.find('/', slash + 1)) {
    const std::string folder = file.substr(0, slash);
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return Status::FromErrno(errno);
  }
  return Status::OK();
}

}  // namespace

// A key named by its root (HKEY_CLASSES_ROOT already turned into its place
// under HKEY_LOCAL_MACHINE) and its path's parts.
struct SqliteRegistry::Key {
  uint32_t root = 0;
  std::vector<std::string_view> parts;  // the view's parts come first
  std::string lpath;                    // the parts joined, ASCII letters lowered

  // False when root and path name no key.
  bool Parse(uint32_t given_root, std::string_view path) {
    if (path.size() > reg::kMaxPath) return false;
    root = given_root;
    parts.clear();
    if (given_root == reg::kClassesRoot) {
      root = reg::kLocalMachine;
      parts = {kClassesPath.substr(0, 8), kClassesPath.substr(9)};
    } else if (given_root < reg::kCurrentUser || given_root > reg::kUsers) {
      return false;
    }
    if (!path.empty()) {
      for (size_t start = 0;;) {
        const size_t end = std::min(path.find('\\', start), path.size());
        const std::string_view part = path.substr(start, end - start);
        if (part.empty() || part.size() > reg::kMaxPart) return false;
        parts.push_back(part);
        if (end == path.size()) break;
        start = end + 1;
      }
    }
    lpath = Lower(Join(parts.size()));
    return true;
  }

  // The first n parts joined.
  std::string Join(size_t n) const {
    std::string out;
    for (size_t i = 0; i < n; ++i) {
      if (i > 0) out += '\\';
      out.append(parts[i]);
    }
    return out;
  }

  // A root of its own (not the view's place, which may be missing).
  bool IsRoot() const { return parts.empty(); }
};

// One connection and its prepared statements.
class SqliteRegistry::Db {
 public:
  enum Sql {
    kFindKey,
    kInsertKey,
    kHasSubkey,
    kDeleteKeyValues,
    kDeleteKeyRow,
    kDeleteTreeValues,
    kDeleteTreeKeys,
    kQueryValue,
    kPutValue,
    kDeleteValue,
    kListValues,
    kListSubkeys,
    kCount
  };

  ~Db() {
    for (sqlite3_stmt* s : statements_) sqlite3_finalize(s);
    sqlite3_close(db_);
  }

  sqlite3* db_ = nullptr;
  std::string file_;

  Status Fail(int rc) const {
    int code = EIO;
    switch (rc & 0xFF) {
      case SQLITE_BUSY:
      case SQLITE_LOCKED: code = EBUSY; break;
      case SQLITE_READONLY:
      case SQLITE_PERM:
      case SQLITE_AUTH: code = EACCES; break;
      case SQLITE_FULL: code = ENOSPC; break;
      case SQLITE_NOMEM: code = ENOMEM; break;
      case SQLITE_CANTOPEN: code = ENOENT; break;
    }
    const char* what = db_ != nullptr ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
    return Status::Error(code, "Registry store " + file_ + ": " + what);
  }

  Status Exec(const char* sql) {
    int rc = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
    return rc == SQLITE_OK ? Status::OK() : Fail(rc);
  }

  // The statement, reset, with its parameters cleared.
  sqlite3_stmt* Get(Sql which) {
    static constexpr std::array<const char*, kCount> kText = {
        "SELECT id FROM keys WHERE root=?1 AND lpath=?2",
        "INSERT INTO keys(root, lpath, parent, name, lname) VALUES(?1, ?2, ?3, ?4, ?5)",
        "SELECT 1 FROM keys WHERE parent=?1 LIMIT 1",
        "DELETE FROM vals WHERE key=?1",
        "DELETE FROM keys WHERE id=?1",
        "DELETE FROM vals WHERE key IN (SELECT id FROM keys WHERE root=?1 AND "
        "(lpath=?2 OR (lpath>=?3 AND (?4 IS NULL OR lpath<?4))))",
        "DELETE FROM keys WHERE root=?1 AND lpath<>x'' AND "
        "(lpath=?2 OR (lpath>=?3 AND (?4 IS NULL OR lpath<?4)))",
        "SELECT v.name, v.type, v.data FROM vals v JOIN keys k ON v.key=k.id "
        "WHERE k.root=?1 AND k.lpath=?2 AND v.lname=?3",
        "INSERT INTO vals(key, name, lname, type, data) VALUES(?1, ?2, ?3, ?4, ?5) "
        "ON CONFLICT(key, lname) DO UPDATE SET type=excluded.type, data=excluded.data",
        "DELETE FROM vals WHERE key=?1 AND lname=?2",
        "SELECT name, type, data FROM vals WHERE key=?1 ORDER BY id",
        "SELECT name FROM keys WHERE parent=?1 ORDER BY lname",
    };
    sqlite3_stmt*& s = statements_[which];
    if (s == nullptr) {
      if (sqlite3_prepare_v3(db_, kText[which], -1, SQLITE_PREPARE_PERSISTENT, &s, nullptr) !=
          SQLITE_OK) {
        return nullptr;
      }
    } else {
      sqlite3_reset(s);
      sqlite3_clear_bindings(s);
    }
    return s;
  }

 private:
  std::array<sqlite3_stmt*, kCount> statements_{};
};

namespace {

// Names, paths and data are all bound as blobs: bytes compared as bytes.
void Bind(sqlite3_stmt* s, int i, std::string_view bytes) {
  if (bytes.empty()) {
    sqlite3_bind_zeroblob(s, i, 0);  // a null pointer would bind NULL
  } else {
    sqlite3_bind_blob(s, i, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
  }
}

std::string Column(sqlite3_stmt* s, int i) {
  const void* p = sqlite3_column_blob(s, i);
  const int n = sqlite3_column_bytes(s, i);
  return p != nullptr ? std::string(static_cast<const char*>(p), static_cast<size_t>(n))
                      : std::string();
}

// Runs a statement to its end (a change).
bool Done(sqlite3_stmt* s, int* rc) {
  *rc = sqlite3_step(s);
  sqlite3_reset(s);
  return *rc == SQLITE_DONE;
}

}  // namespace

SqliteRegistry::SqliteRegistry(std::string file) : file_(std::move(file)) {}
SqliteRegistry::~SqliteRegistry() = default;

std::string SqliteRegistry::DefaultFile() {
  if (const char* set = std::getenv("VOKTOOLS_REGISTRY"); set != nullptr && *set != '\0') {
    return set;
  }
  std::string base;
  if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && *data == '/') {
    base = data;
  } else {
    const char* home = std::getenv("HOME");
    base = std::string(home != nullptr ? home : "") + "/.local/share";
  }
  return base + "/voktools/registry.sqlite3";
}

Status SqliteRegistry::Connect(bool for_write) {
  if (db_ != nullptr) return Status::OK();
  const bool memory = file_ == ":memory:";
  if (!memory) {
    struct stat st;
    if (::stat(file_.c_str(), &st) != 0) {
      if (errno != ENOENT) return Status::FromErrno(errno);
      if (!for_write) return Status::OK();
      // The first write: the folder and the file, private to the user.
      Status s = MakeFolders(file_);
      if (!s.ok()) return s;
      int fd = ::open(file_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
      if (fd < 0 && errno != EEXIST) return Status::FromErrno(errno);
      if (fd >= 0) ::close(fd);
    } else if (!S_ISREG(st.st_mode)) {
      return Status::Error(EINVAL, "Registry store " + file_ + ": not a regular file");
    }
  }
  auto db = std::make_unique<Db>();
  db->file_ = file_;
  int rc = sqlite3_open_v2(file_.c_str(), &db->db_,
                           SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW, nullptr);
  if (rc != SQLITE_OK) return db->Fail(rc);
  sqlite3_busy_timeout(db->db_, kBusyWaitMs);
  // A store written by a later release is left alone.
  int version = 0;
  Status s = Status::OK();
  {
    sqlite3_stmt* q = nullptr;
    rc = sqlite3_prepare_v2(db->db_, "PRAGMA user_version", -1, &q, nullptr);
    if (rc == SQLITE_OK && (rc = sqlite3_step(q)) == SQLITE_ROW) {
      version = sqlite3_column_int(q, 0);
      rc = SQLITE_OK;
    }
    sqlite3_finalize(q);
    if (rc != SQLITE_OK) return db->Fail(rc);
  }
  if (version > kSchemaVersion) {
    return Status::Error(EPROTO, "Registry store " + file_ + ": written by a later version (schema " +
                                     std::to_string(version) + ")");
  }
  if (version < kSchemaVersion) {
    // WAL lets readers go on while one process writes.
    if (s = db->Exec("PRAGMA journal_mode=WAL"); !s.ok()) return s;
    if (s = db->Exec("BEGIN IMMEDIATE"); !s.ok()) return s;
    s = db->Exec(
        "CREATE TABLE IF NOT EXISTS keys(id INTEGER PRIMARY KEY, root INTEGER NOT NULL, "
        "lpath BLOB NOT NULL, parent INTEGER, name BLOB NOT NULL, lname BLOB NOT NULL, "
        "UNIQUE(root, lpath));"
        "CREATE INDEX IF NOT EXISTS keys_by_parent ON keys(parent, lname);"
        "CREATE TABLE IF NOT EXISTS vals(id INTEGER PRIMARY KEY, key INTEGER NOT NULL, "
        "name BLOB NOT NULL, lname BLOB NOT NULL, type INTEGER NOT NULL, data BLOB NOT NULL, "
        "UNIQUE(key, lname));"
        "INSERT OR IGNORE INTO keys(root, lpath, parent, name, lname) VALUES "
        "(2147483649, x'', NULL, x'', x''), (2147483650, x'', NULL, x'', x''), "
        "(2147483651, x'', NULL, x'', x'');"
        "PRAGMA user_version=1;");
    s = s.ok() ? db->Exec("COMMIT") : (db->Exec("ROLLBACK"), s);
    if (!s.ok()) return s;
  }
  if (s = db->Exec("PRAGMA synchronous=NORMAL"); !s.ok()) return s;
  db_ = std::move(db);
  return Status::OK();
}

template <typename Body>
Status SqliteRegistry::Write(Body body) {
  Status s = Connect(true);
  if (!s.ok()) return s;
  if (s = db_->Exec("BEGIN IMMEDIATE"); !s.ok()) return s;
  s = body();
  if (s.ok()) s = db_->Exec("COMMIT");
  if (!s.ok()) (void)db_->Exec("ROLLBACK");
  return s;
}

Status SqliteRegistry::FindKey(const Key& key, int64_t* id) {
  *id = 0;
  sqlite3_stmt* q = db_->Get(Db::kFindKey);
  if (q == nullptr) return db_->Fail(sqlite3_errcode(db_->db_));
  sqlite3_bind_int64(q, 1, key.root);
  Bind(q, 2, key.lpath);
  const int rc = sqlite3_step(q);
  if (rc == SQLITE_ROW) *id = sqlite3_column_int64(q, 0);
  sqlite3_reset(q);
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) return db_->Fail(rc);
  return *id != 0 ? Status::OK() : NoKey();
}

Status SqliteRegistry::MakeKey(const Key& key, int64_t* id) {
  Status s = FindKey(key, id);
  if (s.code() != ENOENT) return s;
  // The nearest key above that exists, then the missing ones below it.
  Key part = key;
  size_t have = key.parts.size();
  int64_t parent = 0;
  while (have > 0) {
    --have;
    part.lpath = Lower(key.Join(have));
    s = FindKey(part, &parent);
    if (s.ok()) break;
    if (s.code() != ENOENT) return s;
  }
  for (size_t n = have + 1; n <= key.parts.size(); ++n) {
    sqlite3_stmt* q = db_->Get(Db::kInsertKey);
    if (q == nullptr) return db_->Fail(sqlite3_errcode(db_->db_));
    const std::string lpath = Lower(key.Join(n));
    sqlite3_bind_int64(q, 1, key.root);
    Bind(q, 2, lpath);
    sqlite3_bind_int64(q, 3, parent);
    Bind(q, 4, key.parts[n - 1]);
    Bind(q, 5, Lower(key.parts[n - 1]));
    int rc;
    if (!Done(q, &rc)) return db_->Fail(rc);
    parent = sqlite3_last_insert_rowid(db_->db_);
  }
  *id = parent;
  return Status::OK();
}

Status SqliteRegistry::RemoveKey(const Key& key) {
  if (key.IsRoot()) return Status::Error(EACCES, "A root key cannot be deleted");
  int64_t id;
  Status s = FindKey(key, &id);
  if (!s.ok()) return s;
  sqlite3_stmt* q = db_->Get(Db::kHasSubkey);
  if (q == nullptr) return db_->Fail(sqlite3_errcode(db_->db_));
  sqlite3_bind_int64(q, 1, id);
  int rc = sqlite3_step(q);
  sqlite3_reset(q);
  if (rc == SQLITE_ROW) return Status::Error(ENOTEMPTY, "The key has subkeys");
  if (rc != SQLITE_DONE) return db_->Fail(rc);
  for (Db::Sql which : {Db::kDeleteKeyValues, Db::kDeleteKeyRow}) {
    q = db_->Get(which);
    if (q == nullptr) return db_->Fail(sqlite3_errcode(db_->db_));
    sqlite3_bind_int64(q, 1, id);
    if (!Done(q, &rc)) return db_->Fail(rc);
  }
  return Status::OK();
}

Status SqliteRegistry::RemoveTree(const Key& key) {
  // The key and every key whose path continues it after a '\' (the bytes
  // from lpath + '\' up to lpath + ']', ']' following '\'); below a root,
  // every key.
  const std::string below = key.IsRoot() ? std::string() : key.lpath + '\\';
  for (Db::Sql which : {Db::kDeleteTreeValues, Db::kDeleteTreeKeys}) {
    sqlite3_stmt* q = db_->Get(which);
    if (q == nullptr) return db_->Fail(sqlite3_errcode(db_->db_));
    sqlite3_bind_int64(q, 1, key.root);
    Bind(q, 2, key.lpath);
    Bind(q, 3, below);
    if (!key.IsRoot()) Bind(q, 4, key.lpath + ']');
    int rc;
    if (!Done(q, &rc)) return db_->Fail(rc);
  }
  return Status::OK();
}

Status SqliteRegistry::PutValue(int64_t key_id, const RegistryValue& value) {
  sqlite3_stmt* q = db_->Get(Db::kPutValue);
  if (q == nullptr) return db_->Fail(sqlite3_errcode(db_->db_));
  sqlite3_bind_int64(q, 1, key_id);
  Bind(q, 2, value.name);
  Bind(q, 3, Lower(value.name));
  sqlite3_bind_int64(q, 4, value.type);
  Bind(q, 5, value.data);
  int rc;
  return Done(q, &rc) ? Status::OK() : db_->Fail(rc);
}

Status SqliteRegistry::RemoveValue(int64_t key_id, std::string_view name) {
  sqlite3_stmt* q = db_->Get(Db::kDeleteValue);
  if (q == nullptr) return db_->Fail(sqlite3_errcode(db_->db_));
  sqlite3_bind_int64(q, 1, key_id);
  Bind(q, 2, Lower(name));
  int rc;
  if (!Done(q, &rc)) return db_->Fail(rc);
  return sqlite3_changes(db_->db_) > 0 ? Status::OK() : NoValue();
}

Status SqliteRegistry::OpenKey(uint32_t root, std::string_view path) {
  Key key;
  if (!key.Parse(root, path)) return Status::Error(EINVAL, "No such key name");
  if (path.empty()) return Status::OK();
  if (Status s = Connect(false); !s.ok() || db_ == nullptr) return s.ok() ? NoKey() : s;
  int64_t id;
  return FindKey(key, &id);
}

Status SqliteRegistry::CreateKey(uint32_t root, std::string_view path) {
  Key key;
  if (!key.Parse(root, path)) return Status::Error(EINVAL, "No such key name");
  return Write([&] {
    int64_t id;
    return MakeKey(key, &id);
  });
}

Status SqliteRegistry::DeleteKey(uint32_t root, std::string_view path) {
  Key key;
  if (!key.Parse(root, path)) return Status::Error(EINVAL, "No such key name");
  if (Status s = Connect(false); !s.ok() || db_ == nullptr) return s.ok() ? NoKey() : s;
  return Write([&] { return RemoveKey(key); });
}

Status SqliteRegistry::QueryValue(uint32_t root, std::string_view path, std::string_view name,
                                  RegistryValue* value) {
  Key key;
  if (!key.Parse(root, path)) return Status::Error(EINVAL, "No such key name");
  if (Status s = Connect(false); !s.ok() || db_ == nullptr) return s.ok() ? NoValue() : s;
  sqlite3_stmt* q = db_->Get(Db::kQueryValue);
  if (q == nullptr) return db_->Fail(sqlite3_errcode(db_->db_));
  sqlite3_bind_int64(q, 1, key.root);
  Bind(q, 2, key.lpath);
  Bind(q, 3, Lower(name));
  const int rc = sqlite3_step(q);
  if (rc == SQLITE_ROW) {
    value->name = Column(q, 0);
    value->type = static_cast<uint32_t>(sqlite3_column_int64(q, 1));
    value->data = Column(q, 2);
  }
  sqlite3_reset(q);
  if (rc == SQLITE_ROW) return Status::OK();
  return rc == SQLITE_DONE ? NoValue() : db_->Fail(rc);
}

Status SqliteRegistry::SetValue(uint32_t root, std::string_view path, const RegistryValue& value) {
  Key key;
  if (!key.Parse(root, path)) return Status::Error(EINVAL, "No such key name");
  // A root exists before the store does.
  if (!key.IsRoot()) {
    if (Status s = Connect(false); !s.ok() || db_ == nullptr) return s.ok() ? NoKey() : s;
  }
  return Write([&] {
    int64_t id;
    Status s = FindKey(key, &id);
    return s.ok() ? PutValue(id, value) : s;
  });
}

Status SqliteRegistry::DeleteValue(uint32_t root, std::string_view path, std::string_view name) {
  Key key;
  if (!key.Parse(root, path)) return Status::Error(EINVAL, "No such key name");
  if (Status s = Connect(false); !s.ok() || db_ == nullptr) return s.ok() ? NoValue() : s;
  return Write([&] {
    int64_t id;
    Status s = FindKey(key, &id);
    return s.ok() ? RemoveValue(id, name) : (s.code() == ENOENT ? NoValue() : s);
  });
}

template <typename Row>
Status SqliteRegistry::ListRows(uint32_t root, std::string_view path, int statement, Row row) {
  Key key;
  if (!key.Parse(root, path)) return Status::Error(EINVAL, "No such key name");
  Status s = Connect(false);
  if (!s.ok()) return s;
  // A root is there before the store, and so is the view of the classes.
  if (db_ == nullptr) return path.empty() ? Status::OK() : NoKey();
  int64_t id;
  s = FindKey(key, &id);
  if (!s.ok()) return s.code() == ENOENT && path.empty() ? Status::OK() : s;
  sqlite3_stmt* q = db_->Get(static_cast<Db::Sql>(statement));
  if (q == nullptr) return db_->Fail(sqlite3_errcode(db_->db_));
  sqlite3_bind_int64(q, 1, id);
  int rc;
  while ((rc = sqlite3_step(q)) == SQLITE_ROW) row(q);
  sqlite3_reset(q);
  return rc == SQLITE_DONE ? Status::OK() : db_->Fail(rc);
}

Status SqliteRegistry::ListValues(uint32_t root, std::string_view path,
                                  std::vector<RegistryValue>* values) {
  values->clear();
  return ListRows(root, path, Db::kListValues, [&](sqlite3_stmt* q) {
    values->push_back(
        {Column(q, 0), static_cast<uint32_t>(sqlite3_column_int64(q, 1)), Column(q, 2)});
  });
}

Status SqliteRegistry::ListSubkeys(uint32_t root, std::string_view path,
                                   std::vector<std::string>* names) {
  names->clear();
  return ListRows(root, path, Db::kListSubkeys,
                  [&](sqlite3_stmt* q) { names->push_back(Column(q, 0)); });
}

Status SqliteRegistry::ApplyOne(const RegistryChange& change) {
  Key key;
  if (!key.Parse(change.root, change.path)) return Status::Error(EINVAL, "No such key name");
  int64_t id;
  switch (change.kind) {
    case RegistryChange::Kind::kCreateKey:
      return MakeKey(key, &id);
    case RegistryChange::Kind::kDeleteTree:
      return RemoveTree(key);
    case RegistryChange::Kind::kSetValue: {
      Status s = MakeKey(key, &id);
      return s.ok() ? PutValue(id, change.value) : s;
    }
    case RegistryChange::Kind::kDeleteValue: {
      Status s = FindKey(key, &id);
      if (s.code() == ENOENT) return Status::OK();
      if (s.ok()) s = RemoveValue(id, change.value.name);
      return s.code() == ENOENT ? Status::OK() : s;
    }
  }
  return Status::Error(EINVAL, "Unknown change");
}

Status SqliteRegistry::Apply(const std::vector<RegistryChange>& changes) {
  return Write([&] {
    for (const RegistryChange& change : changes) {
      Status s = ApplyOne(change);
      if (!s.ok()) return s;
    }
    return Status::OK();
  });
}

}  // namespace vok
