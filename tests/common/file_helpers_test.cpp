#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "support/fault_file_system.h"
#include "support/scratch_dir.h"
#include "voktools/collection.h"
#include "voktools/common.h"

namespace vok {
namespace {

using test::Exists;
using test::ReadFile;
using test::ScratchDir;
using test::WriteFile;

uint32_t ModeOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0);
  return st.st_mode & 07777;
}

std::vector<std::string> Entries(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder)) {
    names.push_back(e.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// The source lies on another device: renaming it onto the target fails, so
// MoveFile has to copy.
struct SourceOnAnotherDevice : test::FaultFileSystem {
  using test::FaultFileSystem::FaultFileSystem;
  Status Rename(const std::string& f, const std::string& t) override {
    if (f.find("/src/") != std::string::npos) return Status::FromErrno(EXDEV);
    return test::FaultFileSystem::Rename(f, t);
  }
};

class MoveFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directory(dir / "src");
    std::filesystem::create_directory(dir / "dst");
    from = dir / "src/new.txt";
    to = dir / "dst/page.txt";
    WriteFile(from, "new content\r\n");
    WriteFile(to, "old content\n");
    ::chmod(to.c_str(), 0640);
    errors = Collection::Create();
  }
  int16_t Move() { return common.MoveFile(from, to, Variant(errors)); }

  test::TestEnv env;
  ScratchDir dir;
  std::string from, to;
  std::shared_ptr<Collection> errors;
  clsCommon common;
};

TEST_F(MoveFileTest, ReplacesTheTargetKeepsItsModeAndDeletesTheSource) {
  EXPECT_EQ(Move(), 0);
  EXPECT_EQ(ReadFile(to), "new content\r\n");
  EXPECT_EQ(ModeOf(to), 0640u);
  EXPECT_FALSE(Exists(from));
  EXPECT_EQ(errors->Count(), 0);
}

TEST_F(MoveFileTest, ReadOnlyTargetIsUnsetRetriedOnceAndReplaced) {
  ::chmod(to.c_str(), 0444);
  EXPECT_EQ(Move(), 0);
  ASSERT_EQ(errors->Count(), 1);
  EXPECT_EQ(errors->Item(1).ToText(),
            "Error deleting : " + to + "\r\nTrying to unset read-only flag");
  EXPECT_EQ(ReadFile(to), "new content\r\n");
  EXPECT_EQ(ModeOf(to), 0444u);  // read-only again
  EXPECT_FALSE(Exists(from));
}

TEST_F(MoveFileTest, UndeletableTargetStaysAndTheSourceIsKept) {
  env.fs.FailOp("CheckRemovable", EACCES, "page.txt");
  EXPECT_EQ(Move(), 1);
  ASSERT_EQ(errors->Count(), 1);
  EXPECT_EQ(errors->Item(1).ToText(), "Error deleting : " + to + "\r\nPermission denied");
  EXPECT_EQ(ReadFile(to), "old content\n");
  EXPECT_EQ(ReadFile(from), "new content\r\n");
}

TEST_F(MoveFileTest, ReadOnlyTargetThatStillCannotBeDeletedFailsAfterOneRetry) {
  ::chmod(to.c_str(), 0444);
  env.fs.FailOp("SetMode", EPERM, "page.txt");
  EXPECT_EQ(Move(), 1);
  ASSERT_EQ(errors->Count(), 2);
  EXPECT_EQ(errors->Item(1).ToText(),
            "Error deleting : " + to + "\r\nTrying to unset read-only flag");
  EXPECT_EQ(errors->Item(2).ToText(), "Error deleting : " + to + "\r\nPermission denied");
  EXPECT_EQ(ReadFile(to), "old content\n");
  EXPECT_TRUE(Exists(from));
}

TEST_F(MoveFileTest, FailedCopyLeavesTargetIntactSourceKeptAndNoTemporaryFile) {
  std::string big(3 << 20, 'b');  // three copy chunks
  WriteFile(from, big);
  SourceOnAnotherDevice fs(&env.posix);
  fs.FailNthWrite(2, ENOSPC);
  Env e{&fs, &env.profile, &env.headless};
  clsCommon c(e);
  EXPECT_EQ(c.MoveFile(from, to, Variant(errors)), 1);
  ASSERT_EQ(errors->Count(), 1);
  EXPECT_EQ(errors->Item(1).ToText(), "Error copying to : " + to + "\r\nNo space left on device");
  EXPECT_EQ(ReadFile(to), "old content\n");
  EXPECT_EQ(ReadFile(from), big);
  EXPECT_EQ(Entries(dir / "dst"), std::vector<std::string>{"page.txt"});
}

TEST_F(MoveFileTest, CopyAcrossDevicesSucceedsAndKeepsTheTargetMode) {
  SourceOnAnotherDevice fs(&env.posix);
  Env e{&fs, &env.profile, &env.headless};
  clsCommon c(e);
  std::string big(2500000, 'q');
  WriteFile(from, big);
  EXPECT_EQ(c.MoveFile(from, to, Variant(errors)), 0);
  EXPECT_EQ(ReadFile(to), big);
  EXPECT_EQ(ModeOf(to), 0640u);
  EXPECT_FALSE(Exists(from));
  EXPECT_GE(fs.Calls("Append"), 3);
  EXPECT_EQ(Entries(dir / "dst"), std::vector<std::string>{"page.txt"});
}

TEST_F(MoveFileTest, MissingSourceIsACopyError) {
  std::filesystem::remove(from);
  EXPECT_EQ(Move(), 1);
  ASSERT_EQ(errors->Count(), 1);
  EXPECT_EQ(errors->Item(1).ToText(), "Error copying to : " + to + "\r\nNo such file or directory");
  EXPECT_EQ(ReadFile(to), "old content\n");
}

TEST_F(MoveFileTest, NewTargetTakesTheSourceMode) {
  std::filesystem::remove(to);
  ::chmod(from.c_str(), 0604);
  EXPECT_EQ(common.MoveFile(from, to), 0);  // no error list: nothing recorded
  EXPECT_EQ(ReadFile(to), "new content\r\n");
  EXPECT_EQ(ModeOf(to), 0604u);
}

TEST_F(MoveFileTest, SameFileUnderAnotherSpellingIsKeptAndBackslashesSeparateFolders) {
  EXPECT_EQ(common.MoveFile(to, dir / "dst/../dst/page.txt", Variant(errors)), 0);
  EXPECT_EQ(ReadFile(to), "old content\n");
  std::string windows_style = to;
  std::replace(windows_style.begin(), windows_style.end(), '/', '\\');
  EXPECT_EQ(common.MoveFile(from, windows_style, Variant(errors)), 0);
  EXPECT_EQ(ReadFile(to), "new content\r\n");
}

TEST(DeleteFile, RemovesReadOnlyFilesAndIgnoresFailures) {
  test::TestEnv env;
  ScratchDir dir;
  clsCommon c;
  WriteFile(dir / "ro", "x");
  ::chmod((dir / "ro").c_str(), 0444);
  c.DeleteFile(dir / "ro");
  EXPECT_FALSE(Exists(dir / "ro"));
  EXPECT_NO_THROW(c.DeleteFile(dir / "never-there"));
  WriteFile(dir / "kept", "x");
  env.fs.FailOp("Remove", EBUSY);
  EXPECT_NO_THROW(c.DeleteFile(dir / "kept"));
  EXPECT_TRUE(Exists(dir / "kept"));
}

// A link is removed as a link: the read-only file it names keeps its mode.
TEST(DeleteFile, ALinkGoesAndWhatItNamesKeepsItsAttribute) {
  ScratchDir dir;
  clsCommon c;
  WriteFile(dir / "target", "x");
  ::chmod((dir / "target").c_str(), 0444);
  ASSERT_EQ(::symlink((dir / "target").c_str(), (dir / "link").c_str()), 0);
  c.DeleteFile(dir / "link");
  EXPECT_FALSE(std::filesystem::is_symlink(dir / "link"));
  struct stat st {};
  ASSERT_EQ(::stat((dir / "target").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0444u);
}

TEST(FileExists, FindsFilesFoldersAndWildcards) {
  ScratchDir dir;
  clsCommon c;
  WriteFile(dir / "page.asp", "x");
  std::filesystem::create_directory(dir / "sub");
  EXPECT_TRUE(c.FileExists(dir / "page.asp"));
  EXPECT_TRUE(c.FileExists(dir / "sub"));
  EXPECT_TRUE(c.FileExists(dir / "*.asp"));
  EXPECT_TRUE(c.FileExists(dir / "pag?.as?"));
  EXPECT_FALSE(c.FileExists(dir / "*.htm"));
  EXPECT_FALSE(c.FileExists(dir / "missing"));
  EXPECT_FALSE(c.FileExists(""));
}

}  // namespace
}  // namespace vok
