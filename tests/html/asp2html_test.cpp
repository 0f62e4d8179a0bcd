#include "voktools/asp2html.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "support/asp_oracle.h"
#include "support/errors.h"
#include "support/fault_file_system.h"
#include "support/page_generator.h"
#include "support/scratch_dir.h"

namespace vok {
namespace {

using test::Exists;
using test::ReadFile;
using test::ScratchDir;
using test::WriteFile;

std::string M(int n) { return "<!-- ASP2HTML " + std::to_string(n) + " -->"; }
std::string Line(int n) { return M(n) + "\r\n"; }

struct Files {
  ScratchDir dir;
  std::string page = dir / "page.asp";
  std::string htm = dir / "page_asp.htm";
  std::string scr = dir / "page_asp.scr";
};

std::vector<std::string> Errors(const clsASP2HTML& c) { return c.ErrorList()->Texts(); }

struct ProtectCase {
  const char* name;
  std::string page;
  std::string html;
  std::string script;
  // What restoration gives back when it is not the page itself.
  std::string restored = "";
};

void PrintTo(const ProtectCase& c, std::ostream* os) { *os << c.name; }

std::vector<ProtectCase> ProtectCases() {
  return {
      {"NoBlocks", "<p class=\"a\">Hello</p>\r\n", "<p class=\"a\">Hello</p>\r\n", ""},
      {"UnquotedAfterEquals", "<a href=<%=url%>>x</a>", "<a href=\"" + M(1) + "\">x</a>",
       Line(1) + "<%=url%>\r\n", "<a href=\"<%=url%>\">x</a>"},
      {"InTagWithoutEquals", "<option <%=sel%>>", "<option ASP2HTML=\"" + M(1) + "\">",
       Line(1) + "<%=sel%>\r\n"},
      {"InQuotedValue", "<a href=\"<%=url%>\">", "<a href=\"" + M(1) + "\">",
       Line(1) + "<%=url%>\r\n"},
      {"InApostropheValue", "<a title='<%=t%>'>", "<a title='" + M(1) + "'>",
       Line(1) + "<%=t%>\r\n"},
      {"TwoBlocksOnALine", "<%a%><%b%>\n", M(1) + M(2) + "\n",
       Line(1) + "<%a%>\r\n" + Line(2) + "<%b%>\r\n"},
      {"MultiLineBlock", "x<%\r\nline\n%>y\r\n", "x" + M(1) + "y\r\n",
       Line(1) + "<%\r\nline\n%>\r\n"},
      {"ScriptAnyCase", "<SCRIPT Language=\"JavaScript\">var a;</SCRIPT>\n", M(1) + "\n",
       Line(1) + "<SCRIPT Language=\"JavaScript\">var a;</SCRIPT>\r\n"},
      {"JavaElement", "a<java>x</java>b", "a" + M(1) + "b", Line(1) + "<java>x</java>\r\n"},
      {"BlankBeforeCloseRunsToTheEnd", "<script>x</script >rest\r\nmore", M(1),
       Line(1) + "<script>x</script >rest\r\nmore"},
      {"BlockInCommentStays", "<!-- <% x %> -->\n<%y%>", "<!-- <% x %> -->\n" + M(1),
       Line(1) + "<%y%>\r\n"},
      {"CommentOpenedInBlockHidesLaterBlocks", "<%a=\"<!--\"%>t<%b%>", M(1) + "t<%b%>",
       Line(1) + "<%a=\"<!--\"%>\r\n"},
      {"LineBreakBeforeBlockIsNotBlank", "<a href=\n<%=u%>>",
       "<a href=\nASP2HTML=\"" + M(1) + "\">", Line(1) + "<%=u%>\r\n"},
      {"SpacesBetweenEqualsAndBlock", "<a href=  <%=u%>>", "<a href=  \"" + M(1) + "\">",
       Line(1) + "<%=u%>\r\n", "<a href=  \"<%=u%>\">"},
      {"ShortestBlock", "<%>", M(1), Line(1) + "<%>\r\n"},
      {"OpenBlockAtEnd", "x<%abc\r\n", "x" + M(1), Line(1) + "<%abc\r\n"},
      {"LineEndsOfEveryKind", "a\r<%1%>\n\r<%2\n%>\r\n", "a\r" + M(1) + "\n\r" + M(2) + "\r\n",
       Line(1) + "<%1%>\r\n" + Line(2) + "<%2\n%>\r\n"},
  };
}

class Protect : public ::testing::TestWithParam<ProtectCase> {};

TEST_P(Protect, WritesPlaceholdersAndScriptFileAndComesBack) {
  const ProtectCase& c = GetParam();
  Files f;
  WriteFile(f.page, c.page);
  clsASP2HTML a;
  a.ASPFile(f.page);
  ASSERT_EQ(a.ASP2HTML(), 0);
  EXPECT_EQ(a.HTMFile(), f.htm);
  EXPECT_EQ(a.SCRFile(), f.scr);
  EXPECT_EQ(ReadFile(f.htm), c.html);
  EXPECT_EQ(ReadFile(f.scr), c.script);
  EXPECT_EQ(Errors(a), std::vector<std::string>{"ASP2HTML : " + f.page});

  clsASP2HTML b;
  b.HTMFile(f.htm);
  b.ASPFile(f.dir / "back.asp");
  ASSERT_EQ(b.HTML2ASP(), 0);
  EXPECT_EQ(ReadFile(f.dir / "back.asp"), c.restored.empty() ? c.page : c.restored);
  EXPECT_EQ(Errors(b), std::vector<std::string>{"HTML2ASP : " + f.htm});
}

INSTANTIATE_TEST_SUITE_P(Asp, Protect, ::testing::ValuesIn(ProtectCases()),
                         [](const auto& info) { return std::string(info.param.name); });

struct RestoreCase {
  const char* name;
  std::string html;
  std::string script;
  std::string page;
  std::vector<std::string> extra_errors = {};
};

void PrintTo(const RestoreCase& c, std::ostream* os) { *os << c.name; }

std::vector<RestoreCase> RestoreCases() {
  const std::string three =
      Line(1) + "<%a%>\r\n" + Line(2) + "<%b\r\nb%>\r\n" + Line(3) + "<%c%>\r\n";
  return {
      {"Reversed", M(3) + "|" + M(2) + "|" + M(1), three, "<%c%>|<%b\r\nb%>|<%a%>"},
      {"RepeatedAndMissing", M(2) + M(2) + M(9) + "\r\n", three, "<%b\r\nb%><%b\r\nb%>\r\n"},
      {"Escaped", "x&lt;!-- asp2html 3 --&gt;y&LT;!-- ASP2HTML 1 --&GT;", three, "x<%c%>y<%a%>"},
      {"EscapedClosingNeedsOneWord",
       "&lt;!-- ASP2HTML  3 --&gt;",
       three,
       "<!-- ASP2HTML  3 --&gt;",
       {"Line 1 : placeholder without \"-->\" left as it stands"}},
      {"AttributeFormIsUndone", "<option ASP2HTML=\"" + M(1) + "\">", three, "<option <%a%>>"},
      {"WithoutCloseStays",
       "a" + std::string("<!-- ASP2HTML 1") + "\r\n",
       three,
       "a<!-- ASP2HTML 1\r\n",
       {"Line 1 : placeholder without \"-->\" left as it stands"}},
      {"ShortBlockStays",
       "\n" + M(1) + M(2),
       Line(1) + Line(2) + "<%b%>\r\n",
       "\n" + M(1) + "<%b%>",
       {"Line 2 : the block of " + M(1) +
        " is shorter than its separator; placeholder left as it stands"}},
      {"BlockHoldingPlaceholderText", M(1) + "|" + M(2),
       Line(1) + "<%=\"" + M(2) + "\"%>\r\n" + Line(2) + "<%z%>\r\n",
       "<%=\"" + M(2) + "\"%>|<%z%>"},
      {"OpenScriptAtEnd", M(1), Line(1) + "<script>\r\nx\r\n", "<script>\r\nx\r\n"},
      {"ClosedScriptAtEnd", M(1), Line(1) + "<script>x</SCRIPT>\r\n", "<script>x</SCRIPT>"},
      {"OtherSpacingIsText", "<!--  ASP2HTML 1 -->", three, "<!--  ASP2HTML 1 -->"},
      {"EditedLastBlockKeepsItsSeparatorRule", M(1), Line(1) + "<%a%> '' edited\r\n",
       "<%a%> '' edited"},
      {"EmptyScriptFile", "a" + M(1) + "b", "", "ab"},
  };
}

class Restore : public ::testing::TestWithParam<RestoreCase> {};

TEST_P(Restore, PutsBlocksBack) {
  const RestoreCase& c = GetParam();
  Files f;
  WriteFile(f.htm, c.html);
  WriteFile(f.scr, c.script);
  clsASP2HTML a;
  a.HTMFile(f.htm);
  ASSERT_EQ(a.HTML2ASP(), 0);
  EXPECT_EQ(a.ASPFile(), f.page);
  EXPECT_EQ(ReadFile(f.page), c.page);
  std::vector<std::string> errors{"HTML2ASP : " + f.htm};
  errors.insert(errors.end(), c.extra_errors.begin(), c.extra_errors.end());
  EXPECT_EQ(Errors(a), errors);
}

INSTANTIATE_TEST_SUITE_P(Asp, Restore, ::testing::ValuesIn(RestoreCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Asp2Html, NamesAreDerivedFromTheOtherFile) {
  struct Case {
    bool from_page;
    std::string source, asp, htm, scr;
  };
  const std::vector<Case> cases = {
      {true, "C:\\web\\default.asp", "C:\\web\\default.asp", "C:\\web\\default_asp.htm",
       "C:\\web\\default_asp.scr"},
      {true, "C:\\web\\page", "C:\\web\\page", "C:\\web\\page_.htm", "C:\\web\\page_.scr"},
      {false, "C:\\web\\default_asp.htm", "C:\\web\\default.asp", "C:\\web\\default_asp.htm",
       "C:\\web\\default_asp.scr"},
      {false, "/srv/list_JSP.htm", "/srv/list.JSP", "/srv/list_JSP.htm", "/srv/list_JSP.scr"},
      {false, "/srv/page_html.htm", "/srv/page_.tml", "/srv/page_html.htm", "/srv/page_html.scr"},
      {false, "/srv/plain.htm", "/srv/plain.asp", "/srv/plain.htm", "/srv/plain.scr"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source);
    clsASP2HTML a;
    if (c.from_page) {
      a.ASPFile(c.source);
      EXPECT_EQ(a.ASP2HTML(), 1);  // no such file, but the names are made
    } else {
      a.HTMFile(c.source);
      EXPECT_EQ(a.HTML2ASP(), 1);
    }
    EXPECT_EQ(a.ASPFile(), c.asp);
    EXPECT_EQ(a.HTMFile(), c.htm);
    EXPECT_EQ(a.SCRFile(), c.scr);
  }
}

TEST(Asp2Html, EveryOpenFailureIsReportedAndLeavesNoFile) {
  struct Case {
    const char* name;
    bool protect;
    std::vector<std::string> present;  // of "page", "htm", "scr"
    std::string failing_folder;        // creating files there fails
    std::string named;                 // the file the message names
  };
  const std::vector<Case> cases = {
      {"page missing", true, {}, "", "page"},
      {"html not creatable", true, {"page"}, "h", "htm"},
      {"script not creatable", true, {"page"}, "s", "scr"},
      {"html missing", false, {"scr"}, "", "htm"},
      {"page not creatable", false, {"htm", "scr"}, "p", "page"},
      {"script missing", false, {"htm"}, "", "scr"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TestEnv t;
    ScratchDir dir;
    for (const char* sub : {"p", "h", "s"}) std::filesystem::create_directory(dir / sub);
    std::map<std::string, std::string> path{
        {"page", dir / "p/x.asp"}, {"htm", dir / "h/x.htm"}, {"scr", dir / "s/x.scr"}};
    for (const std::string& p : c.present) WriteFile(path[p], p == "scr" ? Line(1) : "<%a%>");
    if (!c.failing_folder.empty())
      t.fs.FailOp("CreateScratch", EACCES, "/" + c.failing_folder + "/");
    clsASP2HTML a;
    a.ASPFile(path["page"]);
    a.HTMFile(path["htm"]);
    a.SCRFile(path["scr"]);
    EXPECT_EQ(c.protect ? a.ASP2HTML() : a.HTML2ASP(), 1);
    const std::string why =
        c.failing_folder.empty() ? "No such file or directory" : "Permission denied";
    EXPECT_EQ(Errors(a), (std::vector<std::string>{
                             c.protect ? "ASP2HTML : " + path["page"] : "HTML2ASP : " + path["htm"],
                             "Unable to open file : " + path[c.named] + "\r\n" + why}));
    for (const char* sub : {"p", "h", "s"}) {
      for (const auto& e : std::filesystem::directory_iterator(dir / sub)) {
        EXPECT_NE(e.path().filename().string().rfind("VOK", 0), 0u) << e.path();
      }
    }
  }
  clsASP2HTML a;
  EXPECT_EQ(a.ASP2HTML(), 1);
  EXPECT_EQ(Errors(a), std::vector<std::string>{"ASP2HTML : No input file specified"});
  EXPECT_EQ(a.HTML2ASP(), 1);
  EXPECT_EQ(Errors(a), std::vector<std::string>{"HTML2ASP : No input file specified"});
  EXPECT_EQ(a.GetError(1), "HTML2ASP : No input file specified");
  EXPECT_EQ(a.GetError(0), "");
  EXPECT_EQ(a.GetError(2), "");
}

// The HTML and script files of a page are replaced together or not at all:
// when the second cannot be, the first gets its old content back (or goes,
// where there was none), so that no page is restored with the wrong blocks.
TEST(Asp2Html, TheTwoOutputsAreReplacedTogetherOrNotAtAll) {
  for (bool old_outputs : {true, false}) {
    SCOPED_TRACE(old_outputs);
    test::TestEnv t;
    ScratchDir dir;
    WriteFile(dir / "x.asp", "<p><%=a%></p>");
    if (old_outputs) {
      WriteFile(dir / "x_asp.htm", "old html");
      WriteFile(dir / "x_asp.scr", "old script");
    }
    const std::vector<std::string> before = dir.Entries();
    t.fs.FailOp("Publish", ENOSPC, "x_asp.scr");
    clsASP2HTML a;
    a.ASPFile(dir / "x.asp");
    EXPECT_EQ(a.ASP2HTML(), 1);
    EXPECT_EQ(Errors(a).back(), "Error copying to : " + dir / "x_asp.scr" +
                                    "\r\nNo space left on device");
    EXPECT_EQ(dir.Entries(), before);
    if (old_outputs) {
      EXPECT_EQ(ReadFile(dir / "x_asp.htm"), "old html");
      EXPECT_EQ(ReadFile(dir / "x_asp.scr"), "old script");
    }
  }
}

// Names are taken as written: '?' and '*' match nothing else, and a '\'
// separates folders only when no file has the name as written.
TEST(Asp2Html, NamesAreLiteral) {
  test::TestEnv t;
  ScratchDir dir;
  WriteFile(dir / "q?.jsp", "<b><%=q%></b>");
  WriteFile(dir / "qX_jsp.htm", "unrelated");
  std::filesystem::create_directory(dir / "back");
  WriteFile(dir / "back\\x.asp", "<i><%=b%></i>");
  clsASP2HTML a;
  a.ASPFile(dir / "q?.jsp");
  EXPECT_EQ(a.ASP2HTML(), 0) << Errors(a).back();
  EXPECT_EQ(ReadFile(dir / "q?_jsp.htm"), "<b><!-- ASP2HTML 1 --></b>");
  EXPECT_EQ(ReadFile(dir / "qX_jsp.htm"), "unrelated");
  clsASP2HTML b;
  b.ASPFile(dir / "back\\x.asp");
  EXPECT_EQ(b.ASP2HTML(), 0) << Errors(b).back();
  EXPECT_EQ(ReadFile(dir / "back/x_asp.htm"), "<i><!-- ASP2HTML 1 --></i>");
}

// A write failing during a run ends the call with error 57 and leaves the
// old outputs exactly as they were.
TEST(Asp2Html, AWriteFailingHalfwayLeavesTheOldOutputs) {
  std::string page;
  for (int i = 0; i < 40000; ++i) page += "<p>text " + std::to_string(i) + " <%=v%></p>\r\n";
  for (bool protect : {true, false}) {
    for (int n : {1, 2, 4}) {
      SCOPED_TRACE(std::string(protect ? "protect" : "restore") + ", write " + std::to_string(n));
      Files f;
      WriteFile(f.page, page);
      {
        clsASP2HTML a;
        a.ASPFile(f.page);
        ASSERT_EQ(a.ASP2HTML(), 0);
      }
      const std::string htm = ReadFile(f.htm), scr = ReadFile(f.scr);
      if (!protect) WriteFile(f.page, "old page");
      test::TestEnv t;
      t.fs.FailNthWrite(n, ENOSPC);
      clsASP2HTML a;
      a.ASPFile(f.page);
      a.HTMFile(f.htm);
      EXPECT_EQ(test::ErrorNumber([&] { protect ? a.ASP2HTML() : a.HTML2ASP(); }), 57);
      EXPECT_TRUE(ReadFile(f.htm) == htm);
      EXPECT_TRUE(ReadFile(f.scr) == scr);
      if (!protect) {
        EXPECT_EQ(ReadFile(f.page), "old page");
      }
      for (const auto& e : std::filesystem::directory_iterator(f.dir.path())) {
        EXPECT_NE(e.path().filename().string().rfind("VOK", 0), 0u) << e.path();
      }
    }
  }
}

TEST(Asp2Html, ProgressGrowsToHundredAndTheErrorListStaysLive) {
  Files f;
  std::string page;
  for (int i = 0; i < 20000; ++i) page += "<td><%=x%></td>\n";
  WriteFile(f.page, page);
  clsASP2HTML a;
  std::vector<int16_t> seen;
  a.Progress().Connect([&](int16_t p) { seen.push_back(p); });
  auto list = a.ErrorList();
  a.ASPFile(f.page);
  ASSERT_EQ(a.ASP2HTML(), 0);
  ASSERT_FALSE(seen.empty());
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
  EXPECT_EQ(std::adjacent_find(seen.begin(), seen.end()), seen.end());
  EXPECT_EQ(seen.back(), 100);
  EXPECT_LE(seen.size(), 101u);
  a.ASPFile("");
  a.ASP2HTML();
  EXPECT_EQ(list->Count(), 1);
  EXPECT_EQ(list.get(), a.ErrorList().get());
}

// Pages are read in pieces: every construct must be found where it
// straddles two of them, whatever the piece size.
TEST(Asp2Html, SmallReadsGiveTheSameFilesAsTheOracle) {
  for (uint64_t seed = 1; seed <= 12; ++seed) {
    test::PageOptions options;
    options.seed = seed;
    options.size = 3000 + static_cast<int64_t>(seed) * 700;
    options.blocks = 30;
    options.open_block_at_end = seed % 4 == 0;
    const std::string page = test::GeneratePage(options);
    const test::AspExpectation want = test::ExpectProtection(page);
    for (int32_t chunk : {32, 45, 64, 97, 256}) {
      SCOPED_TRACE("seed " + std::to_string(seed) + ", chunk " + std::to_string(chunk));
      Files f;
      WriteFile(f.page, page);
      clsASP2HTML a;
      a.SetChunkSizeForTesting(chunk);
      a.ASPFile(f.page);
      ASSERT_EQ(a.ASP2HTML(), 0);
      ASSERT_TRUE(ReadFile(f.htm) == want.html);
      ASSERT_TRUE(ReadFile(f.scr) == want.script);
      if (!want.round_trips) continue;
      clsASP2HTML b;
      b.SetChunkSizeForTesting(chunk);
      b.HTMFile(f.htm);
      b.ASPFile(f.dir / "back.asp");
      ASSERT_EQ(b.HTML2ASP(), 0);
      ASSERT_TRUE(ReadFile(f.dir / "back.asp") == want.restored);
    }
  }
}

}  // namespace
}  // namespace vok
