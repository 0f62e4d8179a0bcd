#include "support/memory_file_system.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "platform/posix_file_system.h"
#include "support/scratch_dir.h"

namespace vok {
namespace {

using test::MemoryFileSystem;

// One side of the comparison: a file system and the folder the names live in.
struct Side {
  FileSystem& fs;
  std::string base;  // ends in '/'
  std::unique_ptr<FileLock> held;

  std::string operator/(const std::string& name) const { return base + name; }

  // The statuses and results of one step, as text.
  std::string Write(const std::string& name, const std::string& text) {
    const std::string path = base + name;
    std::unique_ptr<ScratchFile> file;
    Status s = fs.CreateScratch(FolderOf(path), &file);
    std::string out = std::to_string(s.code());
    if (!s.ok()) return out;
    for (Status step : {file->Append(text), file->Sync(), file->SetMode(0644), file->Publish(path)}) {
      out += " " + std::to_string(step.code());
    }
    return out;
  }
  std::string Info(const std::string& name, bool link) {
    FileInfo i;
    Status s = link ? fs.GetLinkInfo(base + name, &i) : fs.GetInfo(base + name, &i);
    if (!s.ok()) return std::to_string(s.code());
    return std::to_string(i.is_dir) + std::to_string(i.is_regular) + std::to_string(i.is_link) +
           std::to_string(i.read_only) + " " + std::to_string(i.mode) + " " +
           (i.is_dir ? "" : std::to_string(i.size));
  }
  std::string Read(const std::string& name) {
    std::unique_ptr<ReadableFile> file;
    Status s = fs.OpenForRead(base + name, &file);
    if (!s.ok()) return std::to_string(s.code());
    std::string bytes(64, '\0');
    size_t got = 0;
    s = file->Read(bytes.size(), bytes.data(), &got);
    return std::to_string(s.code()) + " " + bytes.substr(0, got);
  }
  // Takes a lock on name and tries a second one, or lets the lock held go.
  std::string LockStep(const std::string& name) {
    if (held) {
      held.reset();
      return "released";
    }
    std::unique_ptr<FileLock> second;
    Status s = fs.Lock(base + name, LockWait::kNoWait, &held);
    if (!s.ok()) return std::to_string(s.code());
    return std::to_string(fs.Lock(base + name, LockWait::kNoWait, &second).code());
  }
  std::string Resolve(const std::string& name) {
    std::string resolved;
    Status s = fs.ResolveLink(base + name, &resolved);
    return s.ok() ? resolved.substr(base.size() - 1) : std::to_string(s.code());
  }
  std::string Find(const std::string& pattern, FindKind kind) {
    std::string found;
    Status s = fs.FindFirst(base + pattern, kind, &found);
    // Folders list their entries in an order of their own.
    if (pattern.find_first_of("*?") != std::string::npos) return std::to_string(s.code());
    return std::to_string(s.code()) + " " + found;
  }
};

// Random steps on the same names on both file systems give the same
// statuses and results.
TEST(MemoryFileSystem, BehavesAsThePosixOneOnRandomSteps) {
  const std::vector<std::string> names = {"a", "b", "sub/c", "sub", "lnk", "gone/x", "sub/"};
  for (uint32_t seed = 1; seed <= 20; ++seed) {
    test::ScratchDir dir;
    char* real = ::realpath(dir.path().c_str(), nullptr);
    PosixFileSystem posix;
    Side p{posix, std::string(real) + "/", nullptr};
    std::free(real);
    MemoryFileSystem memory;
    Side m{memory, "/w/", nullptr};
    test::WriteFile(p / "a", "alpha");
    memory.WriteFile(m / "a", "alpha");
    ASSERT_EQ(::mkdir((p / "sub").c_str(), 0755), 0);
    memory.MakeFolder(m / "sub");
    ASSERT_EQ(::symlink("a", (p / "lnk").c_str()), 0);
    memory.MakeLink(m / "lnk", "a");

    std::mt19937 rng(seed);
    auto pick = [&] { return names[rng() % names.size()]; };
    for (int step = 0; step < 150; ++step) {
      const std::string x = pick(), y = pick();
      const int op = static_cast<int>(rng() % 11);
      const bool folder = x.starts_with("sub") && x != "sub/c";
      const uint32_t mode = std::vector<uint32_t>{0444, 0644, 0600}[rng() % 3];
      const FindKind kind = rng() % 2 ? FindKind::kFiles : FindKind::kFilesAndFolders;
      const std::string pattern = std::vector<std::string>{"a", "sub", "s*", "?", "nothing*"}[rng() % 5];
      auto run = [&](Side& s) -> std::string {
        switch (op) {
          case 0: return s.Write(x, "text " + std::to_string(step));
          // Folders keep their place and mode: the permissions of a folder
          // do not bind root, whom the tests may run as.
          case 1: return folder ? "" : std::to_string(s.fs.Rename(s / x, s / y).code());
          case 2: return std::to_string(s.fs.Remove(s / x).code());
          case 3: return folder ? "" : std::to_string(s.fs.SetMode(s / x, mode).code());
          case 4: return s.Info(x, rng() % 2 == 0);
          case 5: return s.Read(x);
          case 6: return std::to_string(s.fs.CheckRemovable(s / x).code());
          case 7: return s.Find(pattern, kind);
          case 8: return std::to_string(s.fs.CreateFolder(s / (x == "a" ? "gone/d" : "sub/d"), 0777).code());
          case 9: return s.LockStep(x);
          default: return s.Resolve(x);
        }
      };
      std::mt19937 saved = rng;
      const std::string want = run(p);
      rng = saved;
      EXPECT_EQ(run(m), want) << "seed " << seed << ", step " << step << ": op " << op << " on "
                              << x << (op == 1 ? " to " + y : "");
    }
  }
}

// What a crash keeps: synced bytes, and folder entries as of their last sync.
TEST(MemoryFileSystem, CrashKeepsWhatWasSynced) {
  MemoryFileSystem fs;
  fs.WriteFile("/d/kept", "durable");
  auto write = [&](const std::string& path, const std::string& text, bool sync) {
    std::unique_ptr<ScratchFile> f;
    ASSERT_TRUE(fs.CreateScratch("/d/", &f).ok());
    ASSERT_TRUE(f->Append(text).ok());
    if (sync) {
      ASSERT_TRUE(f->Sync().ok());
    }
    ASSERT_TRUE(f->Publish(path).ok());
  };
  write("/d/synced", "synced", true);
  write("/d/unsynced", "lost", false);
  ASSERT_TRUE(fs.SyncFolder("/d/").ok());
  write("/d/unlisted", "not in the folder", true);
  ASSERT_TRUE(fs.Rename("/d/kept", "/d/renamed").ok());
  fs.Crash();
  EXPECT_EQ(fs.Files("/d"), (std::map<std::string, std::string>{
                                {"/d/kept", "durable"}, {"/d/synced", "synced"}, {"/d/unsynced", ""}}));
}

}  // namespace
}  // namespace vok
