#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <functional>

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

// A MoveFile of new.txt onto page.txt (mode 0640) in another folder: what is done to
// the two files first, and what MoveFile answers and leaves.
struct MoveCase {
  const char* name;
  std::function<void(test::TestEnv&, const std::string& from, const std::string& to)> setup;
  int16_t result;
  std::vector<std::string> errors;  // "TO" stands for the target
  bool replaced;
  uint32_t mode = 0640;
};

// Across devices the rename fails and MoveFile copies, in three chunks.
const std::string kBig(3 << 20, 'b');
void OtherDevice(test::TestEnv& t, const std::string& from, const std::string&) {
  t.fs.FailOp("Rename", EXDEV, "page.txt");
  WriteFile(from, kBig);
}
const std::string kUnset = "Error deleting : TO\r\nTrying to unset read-only flag";

const MoveCase kMoves[] = {
    {"ReplacesKeepingTheTargetMode", [](auto&, auto&, auto&) {}, 0, {}, true},
    {"ReadOnlyTargetIsUnsetRetriedOnceAndReadOnlyAgain",
     [](auto&, auto&, auto& to) { ::chmod(to.c_str(), 0444); }, 0, {kUnset}, true, 0444},
    {"UndeletableTarget", [](auto& t, auto&, auto&) { t.fs.FailOp("CheckRemovable", EACCES, "page.txt"); },
     1, {"Error deleting : TO\r\nPermission denied"}, false},
    {"ReadOnlyTargetStillUndeletable",
     [](auto& t, auto&, auto& to) {
       ::chmod(to.c_str(), 0444);
       t.fs.FailOp("SetMode", EPERM, "page.txt");
     },
     1, {kUnset, "Error deleting : TO\r\nPermission denied"}, false, 0444},
    {"ReadOnlyTargetReadOnlyAgainAfterAFailedMove",
     [](auto& t, auto&, auto& to) {
       ::chmod(to.c_str(), 0444);
       t.fs.FailOp("Rename", ENOSPC, "page.txt");
     },
     1, {kUnset, "Error copying to : TO\r\nNo space left on device"}, false, 0444},
    {"CopyAcrossDevices", OtherDevice, 0, {}, true},
    {"FailedCopy",
     [](auto& t, auto& from, auto& to) {
       OtherDevice(t, from, to);
       t.fs.FailNthWrite(2, ENOSPC);
     },
     1, {"Error copying to : TO\r\nNo space left on device"}, false},
    {"MissingSource", [](auto&, auto& from, auto&) { std::filesystem::remove(from); }, 1,
     {"Error copying to : TO\r\nNo such file or directory"}, false},
    {"NewTargetTakesTheSourceMode",
     [](auto&, auto& from, auto& to) {
       std::filesystem::remove(to);
       ::chmod(from.c_str(), 0604);
     },
     0, {}, true, 0604},
};

void PrintTo(const MoveCase& c, std::ostream* os) { *os << c.name; }

class MoveFile : public ::testing::TestWithParam<MoveCase> {};

TEST_P(MoveFile, ReplacesTheTargetOrLeavesBothFiles) {
  const MoveCase& c = GetParam();
  test::TestEnv env;
  ScratchDir src, dst;
  const std::string from = src / "new.txt", to = dst / "page.txt";
  WriteFile(from, "new content\r\n");
  WriteFile(to, "old content\n");
  ::chmod(to.c_str(), 0640);
  c.setup(env, from, to);
  const std::string source = Exists(from) ? ReadFile(from) : "";
  auto errors = Collection::Create();
  EXPECT_EQ(clsCommon().MoveFile(from, to, Variant(errors)), c.result);
  std::vector<std::string> expected;
  for (std::string e : c.errors) expected.push_back(e.replace(e.find("TO"), 2, to));
  EXPECT_EQ(errors->Texts(), expected);
  EXPECT_EQ(Exists(from), !c.replaced && !source.empty());
  if (c.replaced) {
    EXPECT_TRUE(ReadFile(to) == source);
  } else {
    EXPECT_EQ(ReadFile(to), "old content\n");
  }
  EXPECT_EQ(ModeOf(to), c.mode);
  EXPECT_EQ(dst.Entries(), std::vector<std::string>{"page.txt"});  // no temporary
}

INSTANTIATE_TEST_SUITE_P(All, MoveFile, ::testing::ValuesIn(kMoves),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(MoveFileSpelling, SameFileUnderAnotherSpellingIsKeptAndBackslashesSeparateFolders) {
  ScratchDir dir;
  clsCommon common;
  std::filesystem::create_directory(dir / "dst");
  const std::string to = dir / "dst/page.txt";
  WriteFile(to, "old content\n");
  WriteFile(dir / "new.txt", "new content\r\n");
  EXPECT_EQ(common.MoveFile(to, dir / "dst/../dst/page.txt"), 0);
  EXPECT_EQ(ReadFile(to), "old content\n");
  std::string windows_style = to;
  std::replace(windows_style.begin(), windows_style.end(), '/', '\\');
  EXPECT_EQ(common.MoveFile(dir / "new.txt", windows_style), 0);
  EXPECT_EQ(ReadFile(to), "new content\r\n");
}

// DeleteFile removes read-only files and ignores failures; a link goes as a
// link, and the read-only file it names keeps its mode.
TEST(FileHelpers, DeleteFileAndFileExists) {
  test::TestEnv env;
  ScratchDir dir;
  clsCommon c;
  WriteFile(dir / "ro", "x");
  ::chmod((dir / "ro").c_str(), 0444);
  ASSERT_EQ(::symlink((dir / "ro").c_str(), (dir / "link").c_str()), 0);
  c.DeleteFile(dir / "link");
  EXPECT_FALSE(std::filesystem::is_symlink(dir / "link"));
  EXPECT_EQ(ModeOf(dir / "ro"), 0444u);
  c.DeleteFile(dir / "ro");
  EXPECT_FALSE(Exists(dir / "ro"));
  EXPECT_NO_THROW(c.DeleteFile(dir / "never-there"));
  WriteFile(dir / "page.asp", "x");
  env.fs.FailOp("Remove", EBUSY);
  EXPECT_NO_THROW(c.DeleteFile(dir / "page.asp"));
  std::filesystem::create_directory(dir / "sub");
  for (const char* found : {"page.asp", "sub", "*.asp", "pag?.as?"}) EXPECT_TRUE(c.FileExists(dir / found));
  for (const char* missing : {"*.htm", "missing"}) EXPECT_FALSE(c.FileExists(dir / missing));
  EXPECT_FALSE(c.FileExists(""));
}

}  // namespace
}  // namespace vok
