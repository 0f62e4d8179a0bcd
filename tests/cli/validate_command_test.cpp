// `voktools validate` and `voktools tags`: reports, options and usage.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>
#include <tuple>

#include "cli/child_process.h"
#include "validate_command.h"

namespace vok::test {
namespace {

const std::string kPage = "x > y\r\n<b>z\r\n";
const std::string kValidated = "x &gt; y\r\n<b>z\r\n</B>\r\n";
const std::string kList =
    "Validate : $DIR/p.htm\n"
    " INFORMATION : Line 1, Row 3 : Changing '>' to &gt;\n"
    " INFORMATION : Line 2, Row 7 : Terminating unfinished tags\n"
    "0 error(s) encountered, 2 problem(s) fixed\n";
const std::string kReport = "$DIR/p.htm: 2 repair(s) made\n" + kList;
const std::string kDiff =
    "--- $DIR/p.htm\n+++ $DIR/p.htm\n@@ -1,2 +1,3 @@\n-x > y\r\n+x &gt; y\r\n <b>z\r\n+</B>\r\n";

// Comparisons in a script and a child selector in a style sheet, and a
// paragraph that the next one ends.
const std::string kModern =
    "<style>\np > b { color: red }\n</style>\n<script>\nif (a < b && c > d) f();\n</script>\n"
    "<p>a<p>b\n";
const std::string kModernKept =
    "<style>\np > b { color: red }\n</style>\n<script>\nif (a < b && c > d) f();\n</script>\n"
    "<p>a</P><p>b\n";
const std::string kModernKeptReport =
    "$DIR/m.htm: 1 repair(s) made, 1 of them not listed below (1 </P> ending a paragraph)\n"
    "Validate : $DIR/m.htm\n0 error(s) encountered, 0 problem(s) fixed\n";

class CliValidate : public ::testing::TestWithParam<CommandCase> {};

TEST_P(CliValidate, ReportsAndWritesThePage) { CheckCommandCase(GetParam()); }

const CommandCase kCases[] = {
    // The list of repairs is the library's; the command adds the files, the
    // figures and the difference.
    {"BackupDiffAndJson", {{"p.htm", kPage}}, {"validate -q --backup --json --diff $DIR/p.htm"}, 0,
     R"(...2 problem(s) fixed"],"warnings":[],"files":{"Filename":"$DIR/p.htm","Backup":"$DIR/p.htm.bak"},)"
     R"("stats":{"changed":true,"repairs":2,"unlisted":0},"diff":"--- $DIR/p.htm\n+++ $DIR/p.htm\n)"
     R"(@@ -1,2 +1,3 @@\n-x > y\r\n+x &gt; y\r\n <b>z\r\n+</B>\r\n"})" "\n",
     {{"p.htm", kValidated}, {"p.htm.bak", kPage}}},
    {"DryRunInJson", {{"p.htm", kPage}}, {"validate --json --dry-run --backup $DIR/p.htm"}, 0,
     R"(..."files":{"Filename":"$DIR/p.htm","Backup":""},"stats":{"changed":false,"repairs":2,"unlisted":0}})" "\n",
     {{"p.htm", kPage}, {"p.htm.bak", std::nullopt}}},
    // --tags as the user means it: the last item without its ",", in lower case.
    {"TagTableAsMeant", {{"p.htm", "<b><i>x</b></i>"}}, {"validate -q --tags b|0,i|0 $DIR/p.htm"}, 0,
     "", {{"p.htm", "<b><i>x</I>\r\n</B><i></i>"}}},
    // The repairs without an entry of their own are counted, and scripts and
    // style sheets are left as they are when asked.
    {"KeepScriptText", {{"m.htm", kModern}}, {"validate --strict --keep-script-text $DIR/m.htm"}, 0,
     kModernKeptReport, {{"m.htm", kModernKept}}},
    {"ScriptTextRepairedWarns", {{"m.htm", kModern}}, {"validate -q --strict $DIR/m.htm"}, 65, "", {},
     "voktools: warning: $DIR/m.htm: line 2: the content of a STYLE element is repaired as markup "
     "(\"<\" and \">\" in scripts and style sheets are not markup); so is that of 1 more SCRIPT or "
     "STYLE element(s) (line 5); --keep-script-text leaves it as it is\n"},
    // --diff: what the run changed, or with --dry-run what it would change.
    {"MissingPageThenRepairWithDiff", {{"p.htm", kPage}}, {"validate --diff $DIR/gone.htm $DIR/p.htm"}, 1,
     kReport + kDiff, {{"p.htm", kValidated}, {"p.htm.bak", std::nullopt}},
     "voktools: error: $DIR/gone.htm: not changed\nValidate : $DIR/gone.htm\nUnable to open file : "
     "$DIR/gone.htm No such file or directory\n"},
    {"DryRunDiff", {{"p.htm", kPage}}, {"validate --dry-run --backup --diff $DIR/p.htm"}, 0,
     "$DIR/p.htm: 2 repair(s) would be made; the page was not changed (--dry-run)\n" + kList + kDiff,
     {{"p.htm", kPage}, {"p.htm.bak", std::nullopt}}},
    {"NoDiffWithoutChange", {{"p.htm", "<b>x</b>"}}, {"validate -q --diff $DIR/p.htm"}, 0, "",
     {{"p.htm", "<b>x</b>"}}},
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

// Only --dry-run needs a folder in the temporary folder, and leaves it
// empty: other runs leave it untouched, not even its time of change. What a
// dry run would warn of names the page, never the private copy.
TEST(CliValidateTempFolder, OnlyADryRunUsesIt) {
  ScratchDir dir, tmp;
  WriteFile(dir / "p.htm", kPage);
  ASSERT_EQ(::chmod((dir / "p.htm").c_str(), 0444), 0);
  struct ScopedTmpdir {
    const char* saved = std::getenv("TMPDIR");
    std::string old = saved != nullptr ? saved : "";
    explicit ScopedTmpdir(const std::string& path) { ::setenv("TMPDIR", path.c_str(), 1); }
    ~ScopedTmpdir() {
      saved != nullptr ? ::setenv("TMPDIR", old.c_str(), 1) : ::unsetenv("TMPDIR");
    }
  } tmpdir(tmp.path());
  for (const bool dry_run : {true, false}) {
    const timespec long_ago[2] = {{1000, 0}, {1000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, tmp.path().c_str(), long_ago, 0), 0);
    RunResult r = dry_run ? RunCli({"validate", "-q", "--dry-run", dir / "p.htm"})
                          : RunCli({"validate", "-q", dir / "p.htm"});
    EXPECT_EQ(r.status, 0) << r.err;
    struct stat st {};
    ASSERT_EQ(::stat(tmp.path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec != 1000, dry_run);
    EXPECT_TRUE(std::filesystem::is_empty(tmp.path()));
    if (dry_run) {
      EXPECT_EQ(r.err, InDir("voktools: warning: $DIR/p.htm: a run would warn: read-only, replaced "
                             "all the same; it is read-only again\n", dir));
      EXPECT_EQ(ReadFile(dir / "p.htm"), kPage);
    }
  }
  EXPECT_EQ(ReadFile(dir / "p.htm"), kValidated);
}

// --tags: what is clear is taken as meant, the rest refused with a reason.
TEST(CliValidateTags, NormalizedOrRefused) {
  std::string many;
  for (int i = 0; i < 129; ++i) many += "T" + std::to_string(i) + "|0,";
  const std::string most = many.substr(0, many.rfind("T128"));
  const std::string kName = "a tag name is a letter followed by letters and digits";
  const std::string kFlag = "the flag is 0 (a start tag closes the open one of its kind) or 1";
  const std::tuple<std::string, std::optional<std::string>, std::string> cases[] = {
      {"B|0,I|0", "B|0,I|0,", ""}, {" b | 1 ,, i|0,\t", "B|1,I|0,", ""}, {",", "", ""},
      {"H1|0,", "H1|0,", ""}, {most, most, ""},
      {"garbage", std::nullopt, "\"garbage\" is not NAME|FLAG"},
      {"1B|0,", std::nullopt, kName}, {"MY-TAG|0,", std::nullopt, "\"MY-TAG|0\": " + kName},
      {"B|2,", std::nullopt, "\"B|2\": " + kFlag},
      {"B|0|1,", std::nullopt, kFlag}, {"B|0,b|1,", std::nullopt, "B is given twice"},
      {many, std::nullopt, "more than 128 tags"},
  };
  for (const auto& [given, table, why] : cases) {
    SCOPED_TRACE(given);
    std::string said;
    EXPECT_EQ(cli::NormalizeTags(given, &said), table);
    EXPECT_EQ(said.find(why) != std::string::npos, !why.empty() || said.empty()) << said;
  }
}

}  // namespace
}  // namespace vok::test
