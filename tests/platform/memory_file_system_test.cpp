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

// The statuses and results of one step on a file system whose names live
// under base, as text.
struct Side {
  FileSystem& fs;
  std::string base;  // ends in '/'

  std::string operator/(const std::string& name) const { return base + name; }
  static std::string Code(Status s) { return std::to_string(s.code()); }

  std::string Step(int op, const std::string& x, const std::string& y, uint32_t mode,
                   FindKind kind, const std::string& pattern, int step) {
    const bool folder = x.starts_with("sub") && x != "sub/c";
    FileInfo i;
    std::string text;
    switch (op) {
      case 0: {
        std::unique_ptr<ScratchFile> file;
        Status s = fs.CreateScratch(FolderOf(*this / x), &file);
        if (!s.ok()) return Code(s);
        for (Status step_status : {file->Append("text " + std::to_string(step)), file->Sync(),
                                   file->SetMode(0644), file->Publish(*this / x)}) {
          text += Code(step_status) + " ";
        }
        return text;
      }
      // Folders keep their place and mode: the permissions of a folder do
      // not bind root, whom the tests may run as.
      case 1: return folder ? "" : Code(fs.Rename(*this / x, *this / y));
      case 2: return Code(fs.Remove(*this / x));
      case 3: return folder ? "" : Code(fs.SetMode(*this / x, mode));
      case 4: {
        Status s = fs.GetInfo(*this / x, &i);
        if (!s.ok()) return Code(s);
        return std::to_string(i.is_dir) + std::to_string(i.is_regular) +
               std::to_string(i.read_only) + " " + std::to_string(i.mode) + " " +
               (i.is_dir ? "" : std::to_string(i.size));
      }
      case 5: {
        std::unique_ptr<ReadableFile> file;
        Status s = fs.OpenForRead(*this / x, &file);
        if (!s.ok()) return Code(s);
        text.resize(64);
        size_t got = 0;
        s = file->Read(text.size(), text.data(), &got);
        return Code(s) + " " + text.substr(0, got);
      }
      case 6: return Code(fs.CheckRemovable(*this / x));
      case 7: {
        Status s = fs.FindFirst(*this / pattern, kind, &text);
        // Folders list their entries in an order of their own.
        return Code(s) + (pattern.find_first_of("*?") == std::string::npos ? " " + text : "");
      }
      default: {
        Status s = fs.ResolveLink(*this / x, &text);
        return s.ok() ? text.substr(base.size() - 1) : Code(s);
      }
    }
  }
};

// Random steps on the same names on both file systems give the same
// statuses and results.
TEST(MemoryFileSystem, BehavesAsThePosixOneOnRandomSteps) {
  const std::vector<std::string> names = {"a", "b", "sub/c", "sub", "gone/x", "sub/", "./a", ".h"};
  const std::vector<std::string> patterns = {"a", "sub", "s*", "?", ".*", "", "nothing*"};
  for (uint32_t seed = 1; seed <= 20; ++seed) {
    test::ScratchDir dir;
    char* real = ::realpath(dir.path().c_str(), nullptr);
    PosixFileSystem posix;
    Side p{posix, std::string(real) + "/"};
    std::free(real);
    MemoryFileSystem memory;
    Side m{memory, "/w/"};
    test::WriteFile(p / "a", "alpha");
    memory.WriteFile(m / "a", "alpha");
    ASSERT_EQ(::mkdir((p / "sub").c_str(), 0755), 0);
    memory.MakeFolder(m / "sub");
    std::mt19937 rng(seed);
    for (int step = 0; step < 150; ++step) {
      const std::string x = names[rng() % names.size()], y = names[rng() % names.size()];
      const int op = static_cast<int>(rng() % 9);
      const uint32_t mode = std::vector<uint32_t>{0444, 0644, 0600}[rng() % 3];
      const FindKind kind = rng() % 2 ? FindKind::kFiles : FindKind::kFilesAndFolders;
      const std::string pattern = patterns[rng() % patterns.size()];
      EXPECT_EQ(m.Step(op, x, y, mode, kind, pattern, step),
                p.Step(op, x, y, mode, kind, pattern, step))
          << "seed " << seed << ", step " << step << ": op " << op << " on " << x << " " << y;
    }
  }
}

// What a crash keeps: synced bytes, and folder entries as of their last
// sync; a crash point ends the calls until a restart.
TEST(MemoryFileSystem, CrashKeepsWhatWasSynced) {
  MemoryFileSystem fs;
  fs.WriteFile("/d/kept", "durable");
  auto write = [&](const std::string& path, const std::string& text, bool sync) {
    std::unique_ptr<ScratchFile> f;
    ASSERT_TRUE(fs.CreateScratch("/d/", &f).ok() && f->Append(text).ok());
    ASSERT_TRUE((!sync || f->Sync().ok()) && f->Publish(path).ok());
  };
  write("/d/synced", "synced", true);
  write("/d/unsynced", "lost", false);
  ASSERT_TRUE(fs.SyncFolder("/d/").ok());
  write("/d/unlisted", "not in the folder", true);
  fs.CrashAfter(1);
  ASSERT_TRUE(fs.Rename("/d/kept", "/d/renamed").ok());
  EXPECT_TRUE(fs.crashed());
  EXPECT_EQ(fs.Remove("/d/synced").code(), EIO);
  fs.Restart();
  EXPECT_EQ(fs.Files("/d"), (std::map<std::string, std::string>{
                                {"/d/kept", "durable"}, {"/d/synced", "synced"},
                                {"/d/unsynced", ""}}));
}

// FailNthWrite fails one write; FailOp every matching call after the
// skipped ones.
TEST(MemoryFileSystem, InjectedFailuresHitTheCallsAskedFor) {
  MemoryFileSystem fs;
  fs.FailNthWrite(2, ENOSPC);
  fs.FailOp("Sync", EIO, "/tmp/", 1);
  std::unique_ptr<ScratchFile> f;
  ASSERT_TRUE(fs.CreateScratch("/tmp/", &f).ok());
  std::string codes;
  for (int i = 0; i < 3; ++i) codes += std::to_string(f->Append("x").code()) + " ";
  for (int i = 0; i < 3; ++i) codes += std::to_string(f->Sync().code()) + " ";
  EXPECT_EQ(codes, "0 " + std::to_string(ENOSPC) + " 0 0 " + std::to_string(EIO) + " " +
                       std::to_string(EIO) + " ");
  EXPECT_EQ(fs.Calls("Append"), 3);
}

}  // namespace
}  // namespace vok
