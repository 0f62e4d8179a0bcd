#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/posix_file_system.h"
#include "platform/posix_profile_store.h"
#include "support/fault_file_system.h"
#include "support/scratch_dir.h"
#include "voktools/common.h"

namespace vok {
namespace {

using test::ReadFile;
using test::ScratchDir;
using test::WriteFile;

class ProfileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* old = std::getenv("VOKTOOLS_WINDIR")) saved_ = old;
    ::setenv("VOKTOOLS_WINDIR", (dir / "profiles").c_str(), 1);
  }
  void TearDown() override {
    saved_ ? ::setenv("VOKTOOLS_WINDIR", saved_->c_str(), 1) : ::unsetenv("VOKTOOLS_WINDIR");
  }
  std::string Get(const std::string& s, const std::string& k, const std::string& def = "?") {
    return common.GetINISetting(s, k, def, Variant("app.ini"));
  }

  ScratchDir dir;
  clsCommon common;
  std::optional<std::string> saved_;
};

TEST_F(ProfileTest, DefaultFileLivesInTheProfileFolder) {
  common.SetINISetting("Paths", "Last", "C:\\work");
  EXPECT_EQ(ReadFile(dir / "profiles/VOK Tools.ini"), "[Paths]\nLast=C:\\work\n");
  EXPECT_EQ(common.GetINISetting("paths", "LAST", ""), "C:\\work");
}

TEST_F(ProfileTest, ReadingFollowsProfileFileConventions) {
  ::mkdir((dir / "profiles").c_str(), 0755);
  WriteFile(dir / "profiles/app.ini",
            "; settings\r\n[ General ]\r\n  Name =  spaced value  \r\nQuoted=\"  kept  \"\r\n"
            "Half=\"open\r\n;Hidden=1\r\nEmpty=\r\n[general]\r\nLater=ignored\r\n"
            "[Other]\r\nName=other\r\n");
  EXPECT_EQ(Get("general", "name"), "spaced value");
  EXPECT_EQ(Get("GENERAL", "Quoted"), "  kept  ");
  EXPECT_EQ(Get("General", "Half"), "\"open");
  EXPECT_EQ(Get("General", "Hidden"), "?");
  EXPECT_EQ(Get("General", "Empty"), "");
  EXPECT_EQ(Get("General", "Later"), "?");  // the first section of a name counts
  EXPECT_EQ(Get("Other", "Name"), "other");
  EXPECT_EQ(Get("Missing", "Name", "fallback  "), "fallback");
  EXPECT_EQ(common.GetINISetting("General", "Name", "d", Variant("nofile.ini")), "d");
}

TEST_F(ProfileTest, ValuesAreCutTo1023Characters) {
  common.SetINISetting("S", "Long", std::string(2000, 'v'), Variant("app.ini"));
  EXPECT_EQ(Get("S", "Long"), std::string(1023, 'v'));
  EXPECT_EQ(Get("S", "None", std::string(1500, 'd')), std::string(1023, 'd'));
}

TEST_F(ProfileTest, WritingKeepsCommentsLineEndsAndOrder) {
  ::mkdir((dir / "profiles").c_str(), 0755);
  WriteFile(dir / "profiles/app.ini", "; top\r\n[A]\r\nx=1\r\n; about y\r\ny=2\r\n\r\n[B]\r\nz=3");
  common.SetINISetting("a", "Y", "20", Variant("app.ini"));
  common.SetINISetting("A", "new", "n", Variant("app.ini"));
  common.SetINISetting("B", "w", "4", Variant("app.ini"));
  common.SetINISetting("C", "v", "5", Variant("app.ini"));
  EXPECT_EQ(ReadFile(dir / "profiles/app.ini"),
            "; top\r\n[A]\r\nx=1\r\n; about y\r\nY=20\r\nnew=n\r\n\r\n[B]\r\nz=3\r\nw=4\r\n"
            "[C]\r\nv=5\r\n");
}

TEST_F(ProfileTest, AbsoluteNamesAndBackslashesWork) {
  std::string windows_style = dir / "abs.ini";
  std::replace(windows_style.begin(), windows_style.end(), '/', '\\');
  common.SetINISetting("S", "k", "v", Variant(windows_style));
  EXPECT_EQ(ReadFile(dir / "abs.ini"), "[S]\nk=v\n");
  EXPECT_EQ(common.GetINISetting("S", "k", "", Variant(dir / "abs.ini")), "v");
}

TEST_F(ProfileTest, TwoProcessesWritingAtOnceKeepEveryKey) {
  constexpr int kKeys = 60;
  pid_t children[2];
  for (int c = 0; c < 2; ++c) {
    children[c] = ::fork();
    ASSERT_GE(children[c], 0);
    if (children[c] == 0) {
      PosixFileSystem fs;
      PosixProfileStore store(&fs);
      bool ok = true;
      for (int i = 0; i < kKeys; ++i) {
        ok &= store.WriteString("S", "p" + std::to_string(c) + "k" + std::to_string(i),
                                std::to_string(i), "race.ini");
      }
      ::_exit(ok ? 0 : 1);
    }
  }
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  for (int c = 0; c < 2; ++c) {
    for (int i = 0; i < kKeys; ++i) {
      EXPECT_EQ(common.GetINISetting("S", "p" + std::to_string(c) + "k" + std::to_string(i), "lost",
                                     Variant("race.ini")),
                std::to_string(i));
    }
  }
}

// A write that cannot make the profile folder or take its lock fails and
// leaves no file.
class ProfileFaults : public ProfileTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(ProfileFaults, FailTheWrite) {
  PosixFileSystem posix;
  test::FaultFileSystem fs(&posix);
  fs.FailOp(GetParam(), EACCES, "profiles");
  PosixProfileStore store(&fs);
  EXPECT_FALSE(store.WriteString("S", "k", "v", "app.ini"));
  EXPECT_FALSE(test::Exists(dir / "profiles/app.ini"));
  EXPECT_EQ(fs.Calls("CreateScratch"), 0);
}

INSTANTIATE_TEST_SUITE_P(Ops, ProfileFaults, ::testing::Values("CreateFolder", "Lock"));

TEST_F(ProfileTest, AReadOnlyFileIsNotRewritten) {
  ::mkdir((dir / "profiles").c_str(), 0755);
  WriteFile(dir / "profiles/app.ini", "[S]\nk=old\n");
  ::chmod((dir / "profiles/app.ini").c_str(), 0444);
  common.SetINISetting("S", "k", "new", Variant("app.ini"));
  EXPECT_EQ(Get("S", "k"), "old");
}

}  // namespace
}  // namespace vok
