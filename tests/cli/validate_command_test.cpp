// `voktools validate` and `voktools tags`: reports, options and usage.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "cli/child_process.h"
#include "cli/command_case.h"

namespace vok::test {
namespace {

const std::string kPage = "x > y\r\n<b>z\r\n";
const std::string kValidated = "x &gt; y\r\n<b>z\r\n</B>\r\n";
const std::string kReport =
    "Validate : $DIR/p.htm\n"
    " INFORMATION : Line 1, Row 3 : Changing '>' to &gt;\n"
    " INFORMATION : Line 2, Row 7 : Terminating unfinished tags\n"
    "0 error(s) encountered, 2 problem(s) fixed\n";

class CliValidate : public ::testing::TestWithParam<CommandCase> {};

TEST_P(CliValidate, ReportsAndWritesThePage) { CheckCommandCase(GetParam()); }

const CommandCase kCases[] = {
    {"RepairsInPlace", {{"p.htm", kPage}}, {"validate $DIR/p.htm"}, 0, kReport,
     {{"p.htm", kValidated}, {"p.htm.bak", std::nullopt}}},
    {"DryRunLeavesThePage", {{"p.htm", kPage}}, {"validate --dry-run --backup $DIR/p.htm"}, 0,
     kReport, {{"p.htm", kPage}, {"p.htm.bak", std::nullopt}}},
    {"BackupAndJson",
     {{"p.htm", kPage}},
     {"validate -q --backup --json $DIR/p.htm"},
     0,
     R"({"result":0,"errors":["Validate : $DIR/p.htm"," INFORMATION : Line 1, Row 3 : )"
     R"(Changing '>' to &gt;"," INFORMATION : Line 2, Row 7 : Terminating unfinished tags",)"
     R"("0 error(s) encountered, 2 problem(s) fixed"],"warnings":[],"files":{"Filename":"$DIR/p.htm",)"
     R"("Backup":"$DIR/p.htm.bak"}})"
     "\n",
     {{"p.htm", kValidated}, {"p.htm.bak", kPage}}},
    {"OwnTagTable",
     {{"p.htm", "<b><i>x</b></i>"}},
     {"validate --tags I|0, $DIR/p.htm"},
     0,
     "Validate : $DIR/p.htm\n0 error(s) encountered, 0 problem(s) fixed\n",
     {{"p.htm", "<b><i>x</b></i>"}}},
    {"TagTableWithoutBar", {{"p.htm", kPage}}, {"validate --tags B|0,X, $DIR/p.htm"}, 64, "",
     {{"p.htm", kPage}}},
    {"MissingPageThenGoodOne",
     {{"p.htm", kPage}},
     {"validate $DIR/gone.htm $DIR/p.htm"},
     1,
     kReport,
     {{"p.htm", kValidated}},
     "voktools: error: Validate : $DIR/gone.htm\nUnable to open file : $DIR/gone.htm No such file "
     "or directory\n"},
    {"DefaultTable",
     {},
     {"tags"},
     0,
     "B|0,I|0,U|0,A|0,FONT|1,STRONG|0,EM|0,PRE|0,SPAN|1,BIG|1,SMALL|1,CITE|0,DFN|0,CODE|0,"
     "SAMP|0,KBD|0,VAR|0,ABBR|0,ACRONYM|0,SCRIPT|0,STYLE|0,H1|0,H2|0,H3|0,H4|0,H5|0,H6|0,\n",
     {}},
};

INSTANTIATE_TEST_SUITE_P(All, CliValidate, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return info.param.name; });

// Every run keeps its backup: PAGE.bak is the newest, PAGE.bak.1 the oldest.
// A link planted as PAGE.bak is moved aside as a link, never written through.
TEST(CliValidateBackup, KeepsEveryBackupNumberedFromTheOldest) {
  ScratchDir dir;
  WriteFile(dir / "secret", "secret");
  ASSERT_EQ(::symlink((dir / "secret").c_str(), (dir / "p.htm.bak").c_str()), 0);
  RunResult r{};
  for (const char* version : {"1", "2", "3"}) {
    WriteFile(dir / "p.htm", std::string("v") + version + " > x");
    r = RunCli({"validate", "--backup", dir / "p.htm"});
    EXPECT_EQ(r.status, 0) << r.err;
  }
  EXPECT_EQ(r.out.substr(0, r.out.find('\n') + 1),
            dir / "p.htm.bak: the earlier backup was moved to " + dir / "p.htm.bak.3\n");
  EXPECT_EQ(ReadFile(dir / "secret"), "secret");
  struct stat st {};
  ASSERT_EQ(::lstat((dir / "p.htm.bak.1").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(ReadFile(dir / "p.htm.bak.2"), "v1 > x");
  EXPECT_EQ(ReadFile(dir / "p.htm.bak.3"), "v2 > x");
  EXPECT_EQ(ReadFile(dir / "p.htm.bak"), "v3 > x");
  EXPECT_FALSE(Exists(dir / "p.htm.bak.4"));
}

// Only --dry-run needs a folder in the temporary folder: other runs leave
// it untouched, not even its time of change.
TEST(CliValidateTempFolder, OnlyADryRunUsesIt) {
  ScratchDir dir, tmp;
  WriteFile(dir / "p.htm", kPage);
  struct ScopedTmpdir {
    const char* saved = std::getenv("TMPDIR");
    std::string old = saved != nullptr ? saved : "";
    explicit ScopedTmpdir(const std::string& path) { ::setenv("TMPDIR", path.c_str(), 1); }
    ~ScopedTmpdir() {
      saved != nullptr ? ::setenv("TMPDIR", old.c_str(), 1) : ::unsetenv("TMPDIR");
    }
  } tmpdir(tmp.path());
  for (const bool dry_run : {false, true}) {
    const timespec long_ago[2] = {{1000, 0}, {1000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, tmp.path().c_str(), long_ago, 0), 0);
    RunResult r = dry_run ? RunCli({"validate", "--dry-run", dir / "p.htm"})
                          : RunCli({"validate", dir / "p.htm"});
    EXPECT_EQ(r.status, 0) << r.err;
    struct stat st {};
    ASSERT_EQ(::stat(tmp.path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec != 1000, dry_run);
    EXPECT_TRUE(std::filesystem::is_empty(tmp.path()));
  }
}

TEST(CliValidateInvoke, ValidatesLateBoundWithProgress) {
  ScratchDir dir;
  WriteFile(dir / "p.htm", kPage);
  RunResult r = RunCli({"invoke"}, InDir(R"({"id":1,"create":"VOKTools.clsHTMLValidate"}
{"id":2,"object":1,"let":"Filename","value":"$DIR/p.htm"}
{"id":3,"object":1,"call":"HTMLValidate"}
{"id":4,"object":1,"call":"DisplayOptions"}
)",
                                         dir));
  EXPECT_EQ(r.out, InDir(R"({"id":1,"ok":true,"object":1}
{"id":2,"ok":true,"result":null}
{"event":"Progress","object":1,"args":[100]}
{"id":3,"ok":true,"result":0}
{"id":4,"ok":true,"result":null}
)",
                         dir));
  EXPECT_EQ(ReadFile(dir / "p.htm"), kValidated);
}

}  // namespace
}  // namespace vok::test
