#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "platform/posix_file_system.h"
#include "support/scratch_dir.h"

namespace vok {
namespace {

using test::ReadFile;
using test::ScratchDir;
using test::WriteFile;

struct WildCase {
  const char* pattern;
  const char* name;
  bool match;
};

class Wildcards : public ::testing::TestWithParam<WildCase> {};

TEST_P(Wildcards, MatchByteByByte) {
  EXPECT_EQ(WildcardMatch(GetParam().pattern, GetParam().name), GetParam().match);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Wildcards,
    ::testing::Values(WildCase{"*.asp", "page.asp", true}, WildCase{"*.asp", "page.aspx", false},
                      WildCase{"p?ge.*", "page.htm", true}, WildCase{"*", "", true},
                      WildCase{"?", "", false}, WildCase{"a*b*c", "aXbYbZc", true},
                      WildCase{"a*b*c", "aXbYbZ", false}, WildCase{"PAGE.ASP", "page.asp", false}));

TEST(PosixFileSystem, ReadOnlyFilesRefuseRemoveAndReplaceEvenForRoot) {
  ScratchDir dir;
  PosixFileSystem fs;
  WriteFile(dir / "ro", "keep");
  WriteFile(dir / "other", "new");
  ::chmod((dir / "ro").c_str(), 0444);
  EXPECT_EQ(fs.Remove(dir / "ro").code(), EACCES);
  EXPECT_EQ(fs.Remove(dir / "ro").message(), "Permission denied");
  EXPECT_EQ(fs.Rename(dir / "other", dir / "ro").code(), EACCES);
  std::unique_ptr<WritableFile> f;
  EXPECT_EQ(fs.OpenForWrite(dir / "ro", WriteMode::kTruncate, &f).code(), EACCES);
  EXPECT_EQ(ReadFile(dir / "ro"), "keep");
  FileInfo info;
  ASSERT_TRUE(fs.GetInfo(dir / "ro", &info).ok());
  EXPECT_TRUE(info.read_only);
  ASSERT_TRUE(fs.SetMode(dir / "ro", info.mode | S_IWUSR).ok());
  EXPECT_TRUE(fs.Remove(dir / "ro").ok());
}

TEST(PosixFileSystem, ExclusiveCreationNeverWritesThroughAPlantedLink) {
  ScratchDir dir;
  PosixFileSystem fs;
  WriteFile(dir / "victim", "precious");
  ASSERT_EQ(::symlink((dir / "victim").c_str(), (dir / "planted").c_str()), 0);
  ASSERT_EQ(::symlink((dir / "nowhere").c_str(), (dir / "dangling").c_str()), 0);
  std::unique_ptr<WritableFile> f;
  EXPECT_FALSE(fs.OpenForWrite(dir / "planted", WriteMode::kExclusive, &f).ok());
  EXPECT_FALSE(fs.OpenForWrite(dir / "dangling", WriteMode::kExclusive, &f).ok());
  EXPECT_FALSE(std::filesystem::exists(dir / "nowhere"));
  EXPECT_EQ(ReadFile(dir / "victim"), "precious");

  std::string path;
  ASSERT_TRUE(CreateUniqueFile(fs, dir.path(), "VOK", ".TMP", &path, &f).ok());
  ASSERT_TRUE(f->Append("fresh").ok());
  ASSERT_TRUE(f->Close().ok());
  EXPECT_EQ(ReadFile(path), "fresh");
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(PosixFileSystem, FindFirstSeesFilesAndOptionallyFolders) {
  ScratchDir dir;
  PosixFileSystem fs;
  std::filesystem::create_directory(dir / "folder.d");
  WriteFile(dir / ".hidden", "");
  std::string found;
  EXPECT_FALSE(fs.FindFirst(dir / "folder.d", FindKind::kFiles, &found).ok());
  EXPECT_TRUE(fs.FindFirst(dir / "folder.d", FindKind::kFilesAndFolders, &found).ok());
  EXPECT_FALSE(fs.FindFirst(dir / "*.d", FindKind::kFiles, &found).ok());
  EXPECT_TRUE(fs.FindFirst(dir / "*.d", FindKind::kFilesAndFolders, &found).ok());
  EXPECT_EQ(found, "folder.d");
  EXPECT_TRUE(fs.FindFirst(dir / ".hid*", FindKind::kFiles, &found).ok());  // nothing is hidden
  EXPECT_FALSE(fs.FindFirst(dir.path(), FindKind::kFilesAndFolders, &found).ok());
}

TEST(PosixFileSystem, TemporaryFolderComesFromTMPDIRAndEndsInASeparator) {
  PosixFileSystem fs;
  const char* old = std::getenv("TMPDIR");
  std::string saved = old ? old : "";
  ::setenv("TMPDIR", "/var/tmp", 1);
  EXPECT_EQ(fs.TempPath(), "/var/tmp/");
  ::unsetenv("TMPDIR");
  EXPECT_EQ(fs.TempPath(), "/tmp/");
  if (old) ::setenv("TMPDIR", saved.c_str(), 1);
}

TEST(Paths, BackslashesBecomeSlashes) {
  EXPECT_EQ(NativePath(R"(C:\dir\file.txt)"), "C:/dir/file.txt");
  EXPECT_EQ(FolderOf(R"(a\b/c.txt)"), "a/b/");
  EXPECT_EQ(FolderOf("c.txt"), "./");
}

}  // namespace
}  // namespace vok

namespace vok {
namespace {

TEST(PosixFileSystem, ReadsOfAnySizeAndSeeksGiveTheFileBytes) {
  test::ScratchDir dir;
  std::string bytes(1 << 20, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 131 % 251);
  test::WriteFile(dir / "big", bytes);
  PosixFileSystem fs;
  std::unique_ptr<ReadableFile> f;
  ASSERT_TRUE(fs.OpenForRead(dir / "big", &f).ok());
  std::string got;
  // Small reads come from the read-ahead, large ones bypass it, seeks drop it.
  for (size_t n : {3u, 300000u, 5u, 4096u, 600000u, 1u, 1u << 20}) {
    std::string chunk(n, '\0');
    size_t k = 0;
    ASSERT_TRUE(f->Read(n, chunk.data(), &k).ok());
    got.append(chunk, 0, k);
    EXPECT_EQ(f->Tell(), static_cast<int64_t>(got.size()));
  }
  EXPECT_EQ(got, bytes);
  ASSERT_TRUE(f->Seek(7).ok());
  std::string chunk(10, '\0');
  size_t k = 0;
  ASSERT_TRUE(f->Read(10, chunk.data(), &k).ok());
  EXPECT_EQ(chunk, bytes.substr(7, 10));
}

}  // namespace
}  // namespace vok
