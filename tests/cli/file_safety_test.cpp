// What the commands refuse to touch: existing outputs of a prepare step,
// object files of the other kind, outputs two files of one run share, and
// inputs that are not regular files; and a report that cannot be written.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "cli/child_process.h"
#include "cli/command_case.h"
#include "support/scratch_dir.h"

namespace vok::test {
namespace {

const std::string kRtf = "{\\rtf1 A{\\pict a}}";
const std::string kRtfPlaced = "{\\rtf1 A{\\v\\vok OBJ 1 }}";
const std::string kRtfObjects = "{\\v\\vok OBJ 1 }\r\n{\\pict a}\r\n{\\v\\vok OBJ 2 }\r\n";
const std::string kMif = "<MIFFile 7.00>\n=Inset\n&data\n=EndInset\n";
const std::string kMifObjects = "<QUONObj 1>\r\n=Inset\r\n&data\r\n=EndInset\r\n<QUONObj End>\r\n";
const std::string kPage = "<p><%=x%></p>\r\n";
const std::string kHtml = "<p><!-- ASP2HTML 1 --></p>\r\n";
const std::string kNoParas = "<MIFFile 5.50>\r\n<TextFlow \r\n>\r\n";
const std::string kMine = "translated work";

const std::string kBatchDone =
    "$DIR/a.mif: extracted\n"
    "EndBatch: wrote $DIR/QUON_ix.mif, $DIR/QUON_xr.mif, $DIR/QUON_va.mif\n";
const std::string kNever = "; not replaced, even with --force";

class CliRefuses : public ::testing::TestWithParam<CommandCase> {};

TEST_P(CliRefuses, AndLeavesTheFiles) { CheckCommandCase(GetParam()); }

const CommandCase kCases[] = {
    {"RtfObjectFileExists",
     {{"doc.rtf", kRtf}, {"doc.obj", kMine}},
     {"rtf extract $DIR/doc.rtf"},
     73,
     "",
     {{"doc.rtf", kRtf}, {"doc.obj", kMine}},
     "voktools: object file $DIR/doc.obj already exists; not replaced (--force replaces it)\n"},
    {"RtfObjectsOfThePlaceholders",
     {{"doc.rtf", kRtfPlaced}, {"doc.obj", kRtfObjects}},
     {"rtf extract $DIR/doc.rtf"},
     73,
     "",
     {{"doc.rtf", kRtfPlaced}, {"doc.obj", kRtfObjects}},
     "$DIR/doc.obj holds the only copy of the objects of the placeholders in $DIR/doc.rtf"},
    {"RtfRefusalInJson",
     {{"doc.rtf", kRtf}, {"doc.obj", kMine}},
     {"rtf extract --json $DIR/doc.rtf"},
     73,
     R"j({"result":73,"errors":["object file $DIR/doc.obj already exists; not replaced )j"
     R"j((--force replaces it)"],"warnings":[],"files":{"RTFFile":"$DIR/doc.rtf","ObjFile":"$DIR/doc.obj"}})j"
     "\n",
     {{"doc.obj", kMine}}},
    {"RtfNeverReplacesMifInsets",
     {{"doc.rtf", kRtf}, {"doc.obj", kMifObjects}},
     {"rtf extract --force $DIR/doc.rtf"},
     73,
     "",
     {{"doc.rtf", kRtf}, {"doc.obj", kMifObjects}},
     "$DIR/doc.obj holds the insets of a MIF file (written by voktools mif remove-objects)" +
         kNever},
    {"MifNeverReplacesRtfObjects",
     {{"book.rtf", kRtf}, {"book.mif", kMif}},
     {"rtf extract $DIR/book.rtf", "mif remove-objects --force $DIR/book.mif"},
     73,
     "",
     {{"book.mif", kMif}, {"book.obj", kRtfObjects}},
     "$DIR/book.obj holds the objects of an RTF file (written by voktools rtf extract)" + kNever},
    {"MifObjectFileExists",
     {{"book.mif", kMif}, {"book.obj", kMine}},
     {"mif remove-objects $DIR/book.mif"},
     73,
     "",
     {{"book.mif", kMif}, {"book.obj", kMine}},
     "object file $DIR/book.obj already exists; not replaced (--force replaces it)"},
    {"RtfTwoFilesOneObjectFile",
     {{"report.rtf", kRtf}, {"report.doc", kRtf}},
     {"rtf extract --force $DIR/report.rtf $DIR/report.doc"},
     73,
     "$DIR/report.rtf: extracted, objects in $DIR/report.obj\n",
     {{"report.doc", kRtf}, {"report.obj", kRtfObjects}},
     "$DIR/report.obj is also the object file of $DIR/report.rtf in this run" + kNever},
    {"MifTwoFilesOneObjectFile",
     {{"book.mif", kMif}, {"book.MIF", kMif}},
     {"mif remove-objects --force $DIR/book.mif $DIR/book.MIF"},
     73,
     "",
     {{"book.MIF", kMif}},
     "$DIR/book.obj is also the object file of $DIR/book.mif in this run" + kNever},
    {"ObjectFileThatIsAFolder",
     {{"doc.rtf", kRtf}, {"doc.obj/", ""}},
     {"rtf extract --force $DIR/doc.rtf"},
     73,
     "",
     {{"doc.rtf", kRtf}},
     "$DIR/doc.obj is not a regular file" + kNever},
    {"AspOutputExists",
     {{"p.asp", kPage}, {"p_asp.htm", kMine}},
     {"asp2html $DIR/p.asp"},
     73,
     "",
     {{"p_asp.htm", kMine}, {"p_asp.scr", std::nullopt}},
     "voktools: HTML file $DIR/p_asp.htm already exists; not replaced (--force replaces it)\n"},
    {"AspForceReplaces",
     {{"p.asp", kPage}, {"p_asp.htm", kMine}},
     {"asp2html --force $DIR/p.asp"},
     0,
     "$DIR/p.asp: HTML in $DIR/p_asp.htm, blocks in $DIR/p_asp.scr\nASP2HTML : $DIR/p.asp\n",
     {{"p_asp.htm", kHtml}}},
    {"AspSamePageTwice",
     {{"p.asp", kPage}},
     {"asp2html --force $DIR/p.asp $DIR/./p.asp"},
     73,
     "$DIR/p.asp: HTML in $DIR/p_asp.htm, blocks in $DIR/p_asp.scr\nASP2HTML : $DIR/p.asp\n",
     {{"p_asp.htm", kHtml}},
     "$DIR/./p_asp.htm is also the HTML file of $DIR/p.asp in this run" + kNever},
    {"MifBatchFileExists",
     {{"a.mif", "<MIFFile 7.00>\n"}, {"QUON_xr.mif", kMine}},
     {"mif extract $DIR/a.mif"},
     73,
     "",
     {{"QUON_xr.mif", kMine}, {"QUON_ix.mif", std::nullopt}},
     "batch file $DIR/QUON_xr.mif already exists; not replaced (--force replaces it)"},
    {"MifForceReplacesBatchFiles",
     {{"a.mif", "<MIFFile 7.00>\n"}, {"QUON_xr.mif", kMine}},
     {"mif extract --force $DIR/a.mif"},
     0,
     kBatchDone,
     {{"QUON_xr.mif", kNoParas}}},
    {"MifOneFileForTwoBatchFiles",
     {{"a.mif", "<MIFFile 7.00>\n"}},
     {"mif extract --force --index $DIR/x.mif --var $DIR/x.mif $DIR/a.mif"},
     73,
     "",
     {{"x.mif", std::nullopt}, {"QUON_xr.mif", std::nullopt}},
     "$DIR/x.mif is named for two batch files"},
};

INSTANTIATE_TEST_SUITE_P(All, CliRefuses, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return info.param.name; });

std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  std::istringstream in(text);
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

// Every command, named an input that is no regular file, says so and goes
// no further: it never waits on a FIFO, never reads a device, and leaves the
// node as it was.
struct Command {
  std::string words;
  int status;  // as for an input that cannot be read
};
void PrintTo(const Command& c, std::ostream* os) { *os << c.words; }
enum class Node { kFifo, kFolder, kLinkToDevice };

class CliNonRegularInput : public ::testing::TestWithParam<std::tuple<Command, Node>> {};

TEST_P(CliNonRegularInput, IsRefusedAsUnreadable) {
  const auto& [command, node] = GetParam();
  ScratchDir dir;
  const std::string in = dir / "in.doc";
  switch (node) {
    case Node::kFifo:
      ASSERT_EQ(::mkfifo(in.c_str(), 0600), 0);
      break;
    case Node::kFolder:
      std::filesystem::create_directory(in);
      break;
    case Node::kLinkToDevice:
      std::filesystem::create_symlink("/dev/null", in);
      break;
  }
  std::vector<std::string> args = Words(command.words);
  args.push_back(in);
  RunResult r = RunCli(args);
  EXPECT_EQ(r.status, command.status) << r.out << r.err;
  EXPECT_NE(r.err.find("not a regular file"), std::string::npos) << r.err;
  struct stat st {};
  ASSERT_EQ(::lstat(in.c_str(), &st), 0);
  EXPECT_EQ(S_ISFIFO(st.st_mode), node == Node::kFifo);
  EXPECT_EQ(S_ISDIR(st.st_mode), node == Node::kFolder);
  EXPECT_EQ(S_ISLNK(st.st_mode), node == Node::kLinkToDevice);
}

const Command kCommands[] = {
    {"rtf extract", 3},
    {"rtf insert", 3},
    {"asp2html", 1},
    {"html2asp", 1},
    {"mif extract", 1},
    {"mif merge", 1},
    {"mif remove-objects", 1},
    {"mif insert-objects", 1},
    {"validate --backup", 1},
    {"validate --dry-run", 1},
    {"lines", 1},
};

std::string CaseName(const ::testing::TestParamInfo<std::tuple<Command, Node>>& info) {
  std::string name = std::get<0>(info.param).words;
  std::erase_if(name, [](char c) { return c == ' ' || c == '-'; });
  constexpr const char* kNodes[] = {"Fifo", "Folder", "LinkToDevice"};
  return name + kNodes[static_cast<int>(std::get<1>(info.param))];
}

INSTANTIATE_TEST_SUITE_P(All, CliNonRegularInput,
                         ::testing::Combine(::testing::ValuesIn(kCommands),
                                            ::testing::Values(Node::kFifo, Node::kFolder,
                                                              Node::kLinkToDevice)),
                         CaseName);

TEST(CliNonRegularInputs, ADeviceNamedDirectlyIsNotRead) {
  RunResult r = RunCli({"lines", "/dev/null"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "voktools: error: /dev/null: cannot open the file: not a regular file\n");
}

TEST(CliNonRegularInputs, ALinkToARegularFileIsRead) {
  ScratchDir dir;
  WriteFile(dir / "p.htm", "x > y");
  std::filesystem::create_symlink(dir / "p.htm", dir / "link.htm");
  RunResult r = RunCli({"validate", "-q", dir / "link.htm"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(ReadFile(dir / "link.htm"), "x &gt; y");
}

// A report that cannot be written is a failure of its own, whatever the
// command; no file after it is processed.
struct FullCase {
  std::string name;
  std::string words;  // "$DIR/" stands for the scratch folder
  std::string input;
};

void PrintTo(const FullCase& c, std::ostream* os) { *os << c.name; }

class CliReportToFullDevice : public ::testing::TestWithParam<FullCase> {};

TEST_P(CliReportToFullDevice, ExitsWith74) {
  ScratchDir dir;
  WriteFile(dir / "p.htm", "x > y");
  WriteFile(dir / "q.htm", "x > y");
  std::vector<std::string> args;
  for (const std::string& w : Words(GetParam().words)) args.push_back(InDir(w, dir));
  const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
  ASSERT_GE(full, 0);
  ChildProcess child(args, /*stderr_fd=*/-1, /*stdout_fd=*/full);
  ::close(full);
  child.Write(GetParam().input);
  std::string err;
  EXPECT_EQ(child.Finish(nullptr, &err), 74) << err;
  EXPECT_NE(err.find("voktools: cannot write the report: No space left on device\n"),
            std::string::npos)
      << err;
  EXPECT_EQ(ReadFile(dir / "q.htm"), "x > y");
}

const FullCase kFullCases[] = {
    {"ValidateJson", "validate --json $DIR/p.htm $DIR/q.htm", ""},
    {"MifBatch", "mif extract $DIR/p.htm", ""},
    {"Tags", "tags", ""},
    {"Help", "--help", ""},
    {"Invoke", "invoke", "{\"id\":1,\"create\":\"VOKTools.clsCommon\"}\n"},
};

INSTANTIATE_TEST_SUITE_P(All, CliReportToFullDevice, ::testing::ValuesIn(kFullCases),
                         [](const auto& info) { return info.param.name; });

// A symbolic link planted at the name of any side file, leading to a file of
// someone else's or nowhere, is replaced by the new file and never written
// through.
struct PlantedLink {
  const char* name;
  std::string document, content, side, words;
};

class CliPlantedLink : public ::testing::TestWithParam<PlantedLink> {};

TEST_P(CliPlantedLink, IsReplacedNotFollowed) {
  const PlantedLink& c = GetParam();
  for (bool dangling : {false, true}) {
    SCOPED_TRACE(dangling ? "dangling" : "to a file");
    ScratchDir dir;
    WriteFile(dir / c.document, c.content);
    const std::string victim = dir / "victim";
    if (!dangling) WriteFile(victim, "precious");
    ASSERT_EQ(::symlink(victim.c_str(), (dir / c.side).c_str()), 0);
    std::vector<std::string> args;
    for (const std::string& w : Words(c.words)) args.push_back(InDir(w, dir));
    const RunResult r = RunCli(args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(std::filesystem::is_symlink(dir / c.side));
    EXPECT_TRUE(std::filesystem::is_regular_file(dir / c.side));
    if (dangling) {
      EXPECT_FALSE(Exists(victim));
    } else {
      EXPECT_EQ(ReadFile(victim), "precious");
    }
  }
}

const PlantedLink kPlantedLinks[] = {
    {"RtfObjectFile", "d.rtf", kRtf, "d.obj", "rtf extract --force -q $DIR/d.rtf"},
    {"HtmlOfPage", "p.asp", kPage, "p_asp.htm", "asp2html --force -q $DIR/p.asp"},
    {"ScriptOfPage", "p.asp", kPage, "p_asp.scr", "asp2html --force -q $DIR/p.asp"},
    {"IndexBatchFile", "a.mif", kMif, "QUON_ix.mif", "mif extract --force -q $DIR/a.mif"},
    {"VariableBatchFile", "a.mif", kMif, "QUON_va.mif", "mif extract --force -q $DIR/a.mif"},
    {"MifObjectFile", "a.mif", kMif, "a.obj", "mif remove-objects --force -q $DIR/a.mif"},
};

INSTANTIATE_TEST_SUITE_P(All, CliPlantedLink, ::testing::ValuesIn(kPlantedLinks),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vok::test
