// What the commands refuse to touch: existing outputs of a prepare step,
// object files of the other kind, outputs two files of one run share, and
// inputs that are not regular files; and a report that cannot be written.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "cli/child_process.h"

namespace vok::test {
namespace {

const std::string kRtf = "{\\rtf1 A{\\pict a}}";
const std::string kRtfPlaced = "{\\rtf1 A{\\v\\vok OBJ 1 }}";
const std::string kRtfObjects = "{\\v\\vok OBJ 1 }\r\n{\\pict a}\r\n{\\v\\vok OBJ 2 }\r\n";
const std::string kMif = "<MIFFile 7.00>\n=Inset\n&data\n=EndInset\n";
const std::string kMifObjects = "<QUONObj 1>\r\n=Inset\r\n&data\r\n=EndInset\r\n<QUONObj End>\r\n";
const std::string kPage = "<p><%=x%></p>\r\n";
const std::string kHtml = "<p><!-- ASP2HTML 1 --></p>\r\n";
const std::string kMine = "translated work";

const std::string kNever = "; not replaced, even with --force";

class CliRefuses : public ::testing::TestWithParam<CommandCase> {};

TEST_P(CliRefuses, AndLeavesTheFiles) { CheckCommandCase(GetParam()); }

const CommandCase kCases[] = {
    {"RtfObjectFileExists", {{"doc.rtf", kRtf}, {"doc.obj", kMine}}, {"rtf extract --json $DIR/doc.rtf"}, 73,
     R"j({"result":73,"errors":["object file $DIR/doc.obj already exists; not replaced )j"
     R"j((--force replaces it)"],"warnings":[],"files":{"RTFFile":"$DIR/doc.rtf","ObjFile":"$DIR/doc.obj"}})j" "\n",
     {{"doc.rtf", kRtf}, {"doc.obj", kMine}},
     "voktools: object file $DIR/doc.obj already exists; not replaced (--force replaces it)\n"},
    {"RtfObjectsOfThePlaceholders", {{"doc.rtf", kRtfPlaced}, {"doc.obj", kRtfObjects}},
     {"rtf extract $DIR/doc.rtf"}, 73, "", {{"doc.rtf", kRtfPlaced}, {"doc.obj", kRtfObjects}},
     "$DIR/doc.obj holds the only copy of the objects of the placeholders in $DIR/doc.rtf"},
    {"RtfNeverReplacesMifInsets", {{"doc.rtf", kRtf}, {"doc.obj", kMifObjects}},
     {"rtf extract --force $DIR/doc.rtf"}, 73, "", {{"doc.rtf", kRtf}, {"doc.obj", kMifObjects}},
     "$DIR/doc.obj holds the insets of a MIF file (written by voktools mif remove-objects)" + kNever},
    {"MifNeverReplacesRtfObjects", {{"book.rtf", kRtf}, {"book.mif", kMif}},
     {"rtf extract $DIR/book.rtf", "mif remove-objects --force $DIR/book.mif"}, 73, "",
     {{"book.mif", kMif}, {"book.obj", kRtfObjects}},
     "$DIR/book.obj holds the objects of an RTF file (written by voktools rtf extract)" + kNever},
    {"MifObjectFileExists", {{"book.mif", kMif}, {"book.obj", kMine}}, {"mif remove-objects $DIR/book.mif"},
     73, "", {{"book.mif", kMif}, {"book.obj", kMine}},
     "object file $DIR/book.obj already exists; not replaced (--force replaces it)"},
    {"RtfTwoFilesOneObjectFile", {{"report.rtf", kRtf}, {"report.doc", kRtf}},
     {"rtf extract --force $DIR/report.rtf $DIR/report.doc"}, 73,
     "$DIR/report.rtf: extracted, objects in $DIR/report.obj\n",
     {{"report.doc", kRtf}, {"report.obj", kRtfObjects}},
     "$DIR/report.obj is also the object file of $DIR/report.rtf in this run" + kNever},
    {"MifTwoFilesOneObjectFile", {{"book.mif", kMif}, {"book.MIF", kMif}},
     {"mif remove-objects --force $DIR/book.mif $DIR/book.MIF"}, 73, "", {{"book.MIF", kMif}},
     "$DIR/book.obj is also the object file of $DIR/book.mif in this run" + kNever},
    {"ObjectFileThatIsAFolder", {{"doc.rtf", kRtf}, {"doc.obj/", ""}}, {"rtf extract --force $DIR/doc.rtf"},
     73, "", {{"doc.rtf", kRtf}}, "$DIR/doc.obj is not a regular file" + kNever},
    {"AspOutputExists", {{"p.asp", kPage}, {"p_asp.htm", kMine}}, {"asp2html $DIR/p.asp"}, 73, "",
     {{"p_asp.htm", kMine}, {"p_asp.scr", std::nullopt}},
     "voktools: HTML file $DIR/p_asp.htm already exists; not replaced (--force replaces it)\n"},
    {"AspSamePageTwice", {{"p.asp", kPage}}, {"asp2html -q --force $DIR/p.asp $DIR/./p.asp"}, 73, "",
     {{"p_asp.htm", kHtml}}, "$DIR/./p_asp.htm is also the HTML file of $DIR/p.asp in this run" + kNever},
    {"MifBatchFileExists", {{"a.mif", "<MIFFile 7.00>\n"}, {"QUON_xr.mif", kMine}}, {"mif extract $DIR/a.mif"},
     73, "", {{"QUON_xr.mif", kMine}, {"QUON_ix.mif", std::nullopt}},
     "batch file $DIR/QUON_xr.mif already exists; not replaced (--force replaces it)"},
    {"MifOneFileForTwoBatchFiles", {{"a.mif", "<MIFFile 7.00>\n"}},
     {"mif extract --force --index $DIR/x.mif --var $DIR/x.mif $DIR/a.mif"}, 73, "",
     {{"x.mif", std::nullopt}, {"QUON_xr.mif", std::nullopt}}, "$DIR/x.mif is named for two batch files"},
};

INSTANTIATE_TEST_SUITE_P(All, CliRefuses, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return info.param.name; });

// Every command, named an input that is no regular file, says so and goes
// no further: it never waits on a FIFO, never reads a device, and leaves the
// node as it was. The status is that of an input that cannot be read.
class CliNonRegularInput : public ::testing::TestWithParam<std::pair<std::string, int>> {};

TEST_P(CliNonRegularInput, IsRefusedAsUnreadable) {
  for (const mode_t kind : {S_IFIFO, S_IFDIR, S_IFLNK}) {
    SCOPED_TRACE(kind);
    ScratchDir dir;
    const std::string in = dir / "in.doc";
    if (kind == S_IFIFO) ASSERT_EQ(::mkfifo(in.c_str(), 0600), 0);
    if (kind == S_IFDIR) std::filesystem::create_directory(in);
    if (kind == S_IFLNK) std::filesystem::create_symlink("/dev/null", in);
    RunResult r = RunCli(Args(GetParam().first + " $DIR/in.doc", dir));
    EXPECT_EQ(r.status, GetParam().second) << r.out << r.err;
    EXPECT_NE(r.err.find("not a regular file"), std::string::npos) << r.err;
    struct stat st {};
    ASSERT_EQ(::lstat(in.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & S_IFMT, kind);
  }
}

INSTANTIATE_TEST_SUITE_P(
    All, CliNonRegularInput,
    // One command for each check: the two of rtf, of asp and of mif each share one.
    ::testing::Values(std::pair{"rtf insert", 3}, std::pair{"html2asp", 1}, std::pair{"mif merge", 1},
                      std::pair{"validate --dry-run", 1}, std::pair{"lines", 1}),
    [](const auto& info) {
      std::string name = info.param.first;
      std::erase_if(name, [](char c) { return c == ' ' || c == '-'; });
      return name;
    });

// A document named through a link is read, and rewritten where the link leads.
TEST(CliNonRegularInputs, ALinkToARegularFileIsFollowed) {
  ScratchDir dir;
  WriteFile(dir / "p.htm", "x > y");
  std::filesystem::create_symlink(dir / "p.htm", dir / "link.htm");
  RunResult r = RunCli({"validate", "-q", dir / "link.htm"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.htm"));
  EXPECT_EQ(ReadFile(dir / "p.htm"), "x &gt; y");
}

// A report that cannot be written is a failure of its own, whatever the
// command; no file after it is processed.
TEST(CliReportToFullDevice, ExitsWith74) {
  const std::pair<std::string, std::string> runs[] = {
      {"validate --json $DIR/p.htm $DIR/q.htm", ""}, {"--help", ""},
      {"invoke", "{\"id\":1,\"create\":\"VOKTools.clsCommon\"}\n"}};
  for (const auto& [words, input] : runs) {
    SCOPED_TRACE(words);
    ScratchDir dir;
    WriteFile(dir / "p.htm", "x > y");
    WriteFile(dir / "q.htm", "x > y");
    const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
    ASSERT_GE(full, 0);
    ChildProcess child(Args(words, dir), input, /*stdout_fd=*/full);
    ::close(full);
    const RunResult r = child.Finish();
    EXPECT_EQ(r.status, 74) << r.err;
    EXPECT_NE(r.err.find("voktools: cannot write the report: No space left on device\n"), std::string::npos)
        << r.err;
    EXPECT_EQ(ReadFile(dir / "q.htm"), "x > y");
  }
}

// A symbolic link planted at the name of any side file, leading to a file of
// someone else's or nowhere, is replaced by the new file and never written
// through.
TEST(CliPlantedLink, IsReplacedNotFollowed) {
  const std::tuple<std::string, std::string, std::string, std::string> cases[] = {
      {"d.rtf", kRtf, "d.obj", "rtf extract --force -q $DIR/d.rtf"},
      {"p.asp", kPage, "p_asp.scr", "asp2html --force -q $DIR/p.asp"},
      {"a.mif", kMif, "QUON_ix.mif", "mif extract --force -q $DIR/a.mif"},
      {"a.mif", kMif, "a.obj", "mif remove-objects --force -q $DIR/a.mif"},
  };
  for (const auto& [document, content, side, words] : cases) {
    for (bool dangling : {false, true}) {
      SCOPED_TRACE(side + (dangling ? " dangling" : " to a file"));
      ScratchDir dir;
      WriteFile(dir / document, content);
      const std::string victim = dir / "victim";
      if (!dangling) WriteFile(victim, "precious");
      ASSERT_EQ(::symlink(victim.c_str(), (dir / side).c_str()), 0);
      const RunResult r = RunCli(Args(words, dir));
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(dir / side)));
      EXPECT_EQ(dangling ? !Exists(victim) : ReadFile(victim) == "precious", true);
    }
  }
}

}  // namespace
}  // namespace vok::test
