#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <random>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "platform/sqlite_registry.h"
#include "support/scratch_dir.h"

namespace vok {
namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
  return s;
}

// The registry as a map of lowered full paths ("root\path"), for the
// comparison below.
class ModelRegistry {
 public:
  struct Node {
    std::string name;
    std::vector<RegistryValue> values;
  };

  ModelRegistry() {
    for (uint32_t root : {reg::kCurrentUser, reg::kLocalMachine, reg::kUsers}) {
      keys_[Lower(RootName(root))] = {};
    }
  }

  // The map's name of a key; empty when root and path name none.
  static std::string Full(uint32_t root, const std::string& path) {
    if (path.size() > reg::kMaxPath) return {};
    std::string p = path;
    if (root == reg::kClassesRoot) {
      root = reg::kLocalMachine;
      p = "SOFTWARE\\Classes" + (p.empty() ? "" : "\\" + p);
    } else if (root < reg::kCurrentUser || root > reg::kUsers) {
      return {};
    }
    size_t start = 0;
    while (!path.empty()) {
      size_t end = std::min(path.find('\\', start), path.size());
      if (end == start || end - start > reg::kMaxPart) return {};
      if (end == path.size()) break;
      start = end + 1;
    }
    return Lower(RootName(root) + (p.empty() ? "" : "\\" + p));
  }

  int Create(uint32_t root, const std::string& path) {
    std::string full = Full(root, path);
    if (full.empty()) return EINVAL;
    std::string shown = RootName(root == reg::kClassesRoot ? reg::kLocalMachine : root) +
                        (root == reg::kClassesRoot ? "\\SOFTWARE\\Classes" : "") +
                        (path.empty() ? "" : "\\" + path);
    for (size_t cut = shown.find('\\'); ; cut = shown.find('\\', cut + 1)) {
      std::string prefix = shown.substr(0, cut);
      if (!keys_.count(Lower(prefix))) {
        keys_[Lower(prefix)].name = prefix.substr(prefix.rfind('\\') + 1);
      }
      if (cut == std::string::npos) break;
    }
    return 0;
  }

  Node* Find(uint32_t root, const std::string& path, int* code) {
    std::string full = Full(root, path);
    *code = full.empty() ? EINVAL : ENOENT;
    auto it = keys_.find(full);
    if (it == keys_.end()) return nullptr;
    *code = 0;
    return &it->second;
  }

  static std::vector<RegistryValue>::iterator FindValue(Node& node, const std::string& name) {
    return std::find_if(node.values.begin(), node.values.end(),
                        [&](auto& x) { return Lower(x.name) == Lower(name); });
  }

  std::vector<std::string> Subkeys(const std::string& full) const {
    std::vector<std::pair<std::string, std::string>> found;
    for (const auto& [k, node] : keys_) {
      if (k.size() > full.size() + 1 && k.compare(0, full.size(), full) == 0 &&
          k[full.size()] == '\\' && k.find('\\', full.size() + 1) == std::string::npos) {
        found.emplace_back(k.substr(full.size() + 1), node.name);
      }
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> names;
    for (auto& f : found) names.push_back(f.second);
    return names;
  }

  void EraseTree(const std::string& full, bool keep_self) {
    for (auto it = keys_.begin(); it != keys_.end();) {
      const bool below = it->first.size() > full.size() &&
                         it->first.compare(0, full.size() + 1, full + "\\") == 0;
      if (below || (it->first == full && !keep_self)) {
        it = keys_.erase(it);
      } else {
        ++it;
      }
    }
    if (keep_self && keys_.count(full)) keys_[full].values.clear();
  }

  std::map<std::string, Node> keys_;

 private:
  static std::string RootName(uint32_t root) {
    return root == reg::kCurrentUser ? "HKCU" : root == reg::kLocalMachine ? "HKLM" : "HKU";
  }
};

// Random operations on the store and on the model give the same results.
TEST(RegistryStore, BehavesLikeTheModel) {
  SqliteRegistry store(":memory:");
  ModelRegistry model;
  std::mt19937 rng(20261206);
  const std::vector<std::string> parts = {"a", "A", "b", "Bb", "bB", "c/d", "C", "\xc3\xa9",
                                          std::string(255, 'k'), std::string(256, 'k'), ""};
  const std::vector<uint32_t> roots = {reg::kCurrentUser, reg::kLocalMachine, reg::kClassesRoot,
                                       reg::kUsers, 0x80000004u, 0};
  auto pick_path = [&] {
    std::string path;
    const int depth = static_cast<int>(rng() % 4);
    for (int i = 0; i < depth; ++i) {
      if (i > 0) path += '\\';
      const size_t k = rng() % 100;
      path += parts[k < 95 ? k % 8 : 8 + k % 3];
    }
    if (rng() % 50 == 0) path = "SOFTWARE\\Classes" + (path.empty() ? "" : "\\" + path);
    return path;
  };
  auto pick_root = [&] {
    const size_t k = rng() % 40;
    return roots[k < 38 ? k % 4 : 4 + k % 2];
  };
  const std::vector<std::string> names = {"", "v", "V", "w", "Name"};
  for (int step = 0; step < 20000; ++step) {
    const uint32_t root = pick_root();
    const std::string path = pick_path();
    const std::string name = names[rng() % names.size()];
    SCOPED_TRACE("step " + std::to_string(step) + " root " + std::to_string(root) + " " + path +
                 " value " + name);
    int code;
    ModelRegistry::Node* node = model.Find(root, path, &code);
    switch (rng() % 9) {
      case 0:
      case 1:
        ASSERT_EQ(store.CreateKey(root, path).code(), model.Create(root, path));
        break;
      case 2: {
        std::string full = ModelRegistry::Full(root, path);
        int want = code;
        if (want == 0 && full.find('\\') == std::string::npos) want = EACCES;
        if (want == 0 && !model.Subkeys(full).empty()) want = ENOTEMPTY;
        ASSERT_EQ(store.DeleteKey(root, path).code(), want);
        if (want == 0) model.keys_.erase(full);
        break;
      }
      case 3:
      case 4: {
        RegistryValue v{name, static_cast<uint32_t>(rng() % 13), std::string(rng() % 5, 'd')};
        v.data += static_cast<char>(rng() % 256);
        ASSERT_EQ(store.SetValue(root, path, v).code(), code);
        if (node != nullptr) {
          auto it = ModelRegistry::FindValue(*node, name);
          if (it == node->values.end()) {
            node->values.push_back(v);
          } else {
            it->type = v.type;
            it->data = v.data;
          }
        }
        break;
      }
      case 5: {
        int want = code;
        if (node != nullptr) {
          auto it = ModelRegistry::FindValue(*node, name);
          want = it == node->values.end() ? ENOENT : 0;
          if (want == 0) node->values.erase(it);
        }
        ASSERT_EQ(store.DeleteValue(root, path, name).code(), want);
        break;
      }
      case 6: {
        RegistryValue got;
        Status s = store.QueryValue(root, path, name, &got);
        const bool found =
            node != nullptr && ModelRegistry::FindValue(*node, name) != node->values.end();
        ASSERT_EQ(s.ok(), found);
        if (found) {
          const auto want = ModelRegistry::FindValue(*node, name);
          EXPECT_EQ(got.name, want->name);
          EXPECT_EQ(got.type, want->type);
          EXPECT_EQ(got.data, want->data);
        }
        break;
      }
      case 7: {
        std::vector<RegistryValue> values;
        std::vector<std::string> subkeys;
        Status s = store.ListValues(root, path, &values);
        Status t = store.ListSubkeys(root, path, &subkeys);
        const bool view_root = root == reg::kClassesRoot && path.empty() && code == ENOENT;
        ASSERT_EQ(s.code(), view_root ? 0 : code);
        ASSERT_EQ(t.code(), view_root ? 0 : code);
        ASSERT_EQ(store.OpenKey(root, path).code(), view_root ? 0 : code);
        if (node == nullptr) break;
        ASSERT_EQ(values.size(), node->values.size());
        for (size_t i = 0; i < values.size(); ++i) EXPECT_EQ(values[i].name, node->values[i].name);
        EXPECT_EQ(subkeys, model.Subkeys(ModelRegistry::Full(root, path)));
        break;
      }
      case 8: {
        RegistryChange change{RegistryChange::Kind::kDeleteTree, root, path, {}};
        std::string full = ModelRegistry::Full(root, path);
        ASSERT_EQ(store.Apply({change}).code(), full.empty() ? EINVAL : 0);
        if (!full.empty()) model.EraseTree(full, full.find('\\') == std::string::npos);
        break;
      }
    }
  }
}

// A batch with a change that fails leaves the store as it was.
TEST(RegistryStore, BatchIsAllOrNothing) {
  SqliteRegistry store(":memory:");
  using K = RegistryChange::Kind;
  Status s = store.Apply({{K::kSetValue, reg::kCurrentUser, "A\\B", {"x", reg::kSz, "1"}},
                          {K::kSetValue, reg::kCurrentUser, "A\\\\B", {"y", reg::kSz, "2"}}});
  EXPECT_EQ(s.code(), EINVAL);
  EXPECT_EQ(store.OpenKey(reg::kCurrentUser, "A").code(), ENOENT);
}

class RegistryFile : public ::testing::Test {
 protected:
  test::ScratchDir dir_;
  std::string file_ = dir_ / "data/voktools/registry.sqlite3";
};

TEST_F(RegistryFile, ReadsCreateNothingAndTheFirstWriteMakesAPrivateStore) {
  {
    SqliteRegistry store(file_);
    std::vector<std::string> names;
    RegistryValue v;
    EXPECT_TRUE(store.OpenKey(reg::kLocalMachine, "").ok());
    EXPECT_EQ(store.OpenKey(reg::kLocalMachine, "X").code(), ENOENT);
    EXPECT_TRUE(store.ListSubkeys(reg::kClassesRoot, "", &names).ok());
    EXPECT_EQ(store.QueryValue(reg::kLocalMachine, "X", "", &v).code(), ENOENT);
    EXPECT_FALSE(test::Exists(dir_ / "data"));
    ASSERT_TRUE(store.SetValue(reg::kCurrentUser, "", {"top", reg::kSz, std::string("v\0", 2)}).ok());
  }
  struct stat st;
  ASSERT_EQ(::stat(file_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(::stat((dir_ / "data/voktools").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  SqliteRegistry again(file_);
  RegistryValue v;
  ASSERT_TRUE(again.QueryValue(reg::kCurrentUser, "", "TOP", &v).ok());
  EXPECT_EQ(v.data, std::string("v\0", 2));
}

TEST_F(RegistryFile, AStoreOfALaterVersionIsLeftAlone) {
  {
    SqliteRegistry store(file_);
    ASSERT_TRUE(store.CreateKey(reg::kCurrentUser, "K").ok());
  }
  // A later release would have raised the schema number.
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(file_.c_str(), &db), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(db, "PRAGMA user_version=7", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
  SqliteRegistry store(file_);
  Status s = store.OpenKey(reg::kCurrentUser, "K");
  EXPECT_EQ(s.code(), EPROTO);
  EXPECT_NE(s.message().find("later version"), std::string::npos);
}

// Runs body in a child process; its exit status.
template <typename Body>
pid_t Spawn(Body body) {
  pid_t pid = fork();
  if (pid == 0) _exit(body());
  return pid;
}

// A writer of single values and a writer of batches at once: the first gets
// every value in; the second, killed, leaves each batch whole or absent.
TEST_F(RegistryFile, WritersAtOnceAndAKilledOneLeaveEachValueWholeOrAbsent) {
  ASSERT_TRUE(SqliteRegistry(file_).CreateKey(reg::kCurrentUser, "K").ok());
  pid_t single = Spawn([&] {
    SqliteRegistry store(file_);
    for (int i = 0; i < 1000; ++i) {
      RegistryValue v{"a" + std::to_string(i), reg::kDword, "1234"};
      if (!store.SetValue(reg::kCurrentUser, "", v).ok()) return 1;
    }
    return 0;
  });
  pid_t batches = Spawn([&] {
    SqliteRegistry store(file_);
    for (int batch = 0;; ++batch) {
      std::vector<RegistryChange> changes;
      for (int i = 0; i < 50; ++i) {
        std::string name = std::to_string(batch) + "." + std::to_string(i);
        changes.push_back({RegistryChange::Kind::kSetValue, reg::kCurrentUser, "K\\" + name,
                           {name, reg::kBinary, std::string(64 * 1024, static_cast<char>(i))}});
      }
      if (!store.Apply(changes).ok()) return 1;
    }
  });
  int status = 0;
  ASSERT_EQ(waitpid(single, &status, 0), single);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  usleep(200 * 1000);
  kill(batches, SIGKILL);
  waitpid(batches, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status));
  SqliteRegistry store(file_);
  std::vector<RegistryValue> values;
  ASSERT_TRUE(store.ListValues(reg::kCurrentUser, "", &values).ok());
  EXPECT_EQ(values.size(), 1000u);
  std::vector<std::string> keys;
  ASSERT_TRUE(store.ListSubkeys(reg::kCurrentUser, "K", &keys).ok());
  ASSERT_FALSE(keys.empty());
  EXPECT_EQ(keys.size() % 50, 0u) << "a batch was cut";
  for (const std::string& k : keys) {
    RegistryValue v;
    ASSERT_TRUE(store.QueryValue(reg::kCurrentUser, "K\\" + k, k, &v).ok()) << k;
    const char fill = static_cast<char>(std::stoi(k.substr(k.find('.') + 1)));
    EXPECT_EQ(v.data, std::string(64 * 1024, fill)) << k;
  }
}

}  // namespace
}  // namespace vok
