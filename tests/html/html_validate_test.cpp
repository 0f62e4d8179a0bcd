#include "voktools/html_validate.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "html/html_options.h"
#include "platform/env.h"
#include "platform/windowing.h"
#include "support/errors.h"
#include "support/fault_file_system.h"
#include "support/scratch_dir.h"
#include "voktools/common.h"

namespace vok {
namespace {

using test::Exists;
using test::ReadFile;
using test::ScratchDir;
using test::WriteFile;
using Texts = std::vector<std::string>;

struct Validated {
  int32_t result;
  std::string page;
  Texts findings;  // the error list without its title entry and summary
  Texts all;
};

Validated Validate(const std::string& page, int32_t chunk = 0) {
  ScratchDir dir;
  WriteFile(dir / "p.htm", page);
  clsHTMLValidate v;
  v.Filename(dir / "p.htm");
  v.SetChunkSizeForTesting(chunk);
  Validated r{v.HTMLValidate(), ReadFile(dir / "p.htm"), {}, v.ErrorList()->Texts()};
  if (r.all.size() >= 2) r.findings.assign(r.all.begin() + 1, r.all.end() - 1);
  return r;
}

std::string Info(int line, int row, const std::string& text) {
  return " INFORMATION : Line " + std::to_string(line) + ", Row " + std::to_string(row) + " : " +
         text;
}

struct Case {
  const char* name;
  std::string page;
  std::string validated;
  Texts findings;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class Repairs : public ::testing::TestWithParam<Case> {};

TEST_P(Repairs, RewriteThePageAndReportEachRepair) {
  const Case& c = GetParam();
  for (int32_t chunk : {0, 16}) {
    Validated r = Validate(c.page, chunk);
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.page, c.validated);
    EXPECT_EQ(r.findings, c.findings);
    EXPECT_EQ(r.all.back(), "0 error(s) encountered, " + std::to_string(c.findings.size()) +
                                " problem(s) fixed");
    // What the validator wrote needs no repair.
    Validated again = Validate(r.page, chunk);
    EXPECT_EQ(again.page, r.page);
    EXPECT_EQ(again.findings, Texts{});
  }
}

const std::string kTag = "< ... < changed to < ... ><";
const std::string kUnfinished = "Terminating unfinished tags";

INSTANTIATE_TEST_SUITE_P(
    Html, Repairs,
    ::testing::Values(
        Case{"WellFormedPageIsRewrittenByteForByte",
             "<html><body><p>Hi <b>there</b>, <font color=red><font size=2>x</font></font>"
             "</p>\n<!-- a\r\ncomment -->\n<a href=\"x>y\">don't</a></body></html>",
             "<html><body><p>Hi <b>there</b>, <font color=red><font size=2>x</font></font>"
             "</p>\n<!-- a\r\ncomment -->\n<a href=\"x>y\">don't</a></body></html>",
             {}},
        Case{"StrayBrackets", "x > y\r\nif a < 3 then\r\n", "x &gt; y\r\nif a &lt; 3 then\r\n",
             {Info(1, 3, "Changing '>' to &gt;"), Info(2, 6, "Changing '<' to &lt;")}},
        Case{"UnfinishedTagAtTheEnd", "x > y\r\n<b>z\r\n", "x &gt; y\r\n<b>z\r\n</B>\r\n",
             {Info(1, 3, "Changing '>' to &gt;"), Info(2, 7, kUnfinished)}},
        Case{"TagWithinTag", "<b <i>x</i></b>\n", "<b ><i>x</i></b>\n", {Info(1, 1, kTag)}},
        Case{"Overlap", "<b><i>x</b></i>", "<b><i>x</I>\r\n</B><i></i>",
             {Info(1, 8, "<B> ... <I> ... </B> encountered")}},
        Case{"NoOverlapAllowed", "<b>a<b>b</b></b>", "<b>a</B><b>b</b>",
             {Info(1, 5, "Terminating previous <B> tag"),
              Info(1, 13, "Ignoring unnecessary </B> tag")}},
        Case{"EmptyAnchorAndFont", "<a>x<FONT >y<a href=\"z\">w</a>", "xy<a href=\"z\">w</a>",
             {Info(1, 1, "Ignoring empty <A> tag"), Info(1, 5, "Ignoring empty <FONT> tag")}},
        Case{"Paragraphs", "<p>one<p>two</p></p>", "<p>one</P><p>two</p>",
             {Info(1, 17, "Ignoring unnecessary </P> tag")}},
        Case{"EndOfBodyClosesEverything", "<b><i>x</body>", "<b><i>x</I></B>\r\n</body>",
             {Info(1, 8, kUnfinished)}},
        Case{"GlueLineEndsCommentAndTags", "<b><!-- c\r\n<!--HTMLGlue-->\r\n<i>",
             "<b><!-- c\r\n-->\r\n</B>\r\n<!--HTMLGlue-->\r\n<i></I>\r\n",
             {Info(1, 12, "Terminating comment"), Info(1, 12, kUnfinished),
              Info(3, 4, kUnfinished)}},
        Case{"CommentLeftOpenInScript", "<script><!-- if (a<b)\n f();</SCRIPT>\n",
             "<script><!-- if (a<b)\n f();--></SCRIPT>\n", {}},
        Case{"QuotesOpenOnlyAfterEquals", "<a title=x\"y>z\"></a>", "<a title=x\"y>z\"&gt;</a>",
             {Info(1, 16, "Changing '>' to &gt;")}},
        Case{"QuoteAfterPlusInsideAValue", "<a o=\"f('+'x>y')\">t</a>",
             "<a o=\"f('+'x>y')\">t</a>", {}},
        Case{"TenthQuotedValueIsPlainText",
             "<a v=\"+'+\"+'+\"+'+\"+'+\"+'+\"\n", "<a v=\"+'+\"+'+\"+'+\"+'+\"+'+\"\n", {}},
        Case{"TagOpenAtTheEndStaysAfterTheGeneratedEndTags", "<b>x\n<i a=\"1",
             "<b>x\n</B>\r\n<i a=\"1", {Info(2, 8, kUnfinished)}}),
    [](const auto& info) { return std::string(info.param.name); });

// The one kind of page whose validated text needs repairs again: a comment
// still open at the end. Its text is written at each line end, so the end
// tags that the end of the page generates land inside it, and the next run
// finds the same elements open.
TEST(HtmlValidate, AnUnterminatedCommentAtTheEndTakesTheGeneratedEndTags) {
  Validated first = Validate("<b>x<!-- c");
  EXPECT_EQ(first.page, "<b>x<!-- c</B>\r\n");
  EXPECT_EQ(first.findings, Texts{Info(1, 11, kUnfinished)});
  Validated second = Validate(first.page);
  EXPECT_EQ(second.page, "<b>x<!-- c</B>\r\n</B>\r\n");
  EXPECT_EQ(second.findings, Texts{Info(1, 17, kUnfinished)});
}

// A tag dropped without a trace in front of "<!--HTMLGlue" turns that line
// into a glue line for the next run, which closes the tags open there.
TEST(HtmlValidate, ADroppedTagCanMakeTheNextLineAGlueLine) {
  Validated first = Validate("<b>x\n</i><!--HTMLGlue-->\n</b>\n");
  EXPECT_EQ(first.page, "<b>x\n<!--HTMLGlue-->\n</b>\n");
  EXPECT_EQ(first.findings, Texts{Info(2, 1, "Ignoring unnecessary </I> tag")});
  Validated second = Validate(first.page);
  EXPECT_EQ(second.page, "<b>x\n</B>\r\n<!--HTMLGlue-->\n\n");
}

TEST(HtmlValidate, TwoLineExampleGivesTheWholeErrorList) {
  ScratchDir dir;
  WriteFile(dir / "p.htm", "x > y\r\n<b>z\r\n");
  clsHTMLValidate v;
  v.Filename(dir / "p.htm");
  EXPECT_EQ(v.HTMLValidate(), 0);
  EXPECT_EQ(v.ErrorList()->Texts(),
            (Texts{"Validate : " + dir / "p.htm", Info(1, 3, "Changing '>' to &gt;"),
                   Info(2, 7, kUnfinished), "0 error(s) encountered, 2 problem(s) fixed"}));
}

TEST(HtmlValidate, TagsPropertyParsesItemsAndStopsAtBadOnes) {
  clsHTMLValidate v;
  EXPECT_EQ(v.Tags(), clsHTMLValidate::kDefaultTags);
  v.Tags("B|0,I|1");
  EXPECT_EQ(v.Tags(), "B|0,");
  EXPECT_EQ(test::ErrorNumber([&] { v.Tags("EM|0,STRONG,B|1,"); }), 5);
  EXPECT_EQ(v.Tags(), "EM|0,");
  std::string many;
  for (int i = 0; i < 129; ++i) many += "T" + std::to_string(i) + "|0,";
  EXPECT_EQ(test::ErrorNumber([&] { v.Tags(many); }), 9);
  EXPECT_EQ(v.Tags(), many.substr(0, many.rfind("T128")));
  // An empty table tracks nothing; P keeps its own rule.
  v.Tags("");
  EXPECT_EQ(v.Tags(), "");
  ScratchDir dir;
  WriteFile(dir / "p.htm", "<b>x<p>a<p>b");
  v.Filename(dir / "p.htm");
  EXPECT_EQ(v.HTMLValidate(), 0);
  EXPECT_EQ(ReadFile(dir / "p.htm"), "<b>x<p>a</P><p>b");
  // A flag that is not a number reads as 0: no overlap.
  v.Tags("B|x,");
  WriteFile(dir / "p.htm", "<b>1<b>2</b></b>");
  v.HTMLValidate();
  EXPECT_EQ(ReadFile(dir / "p.htm"), "<b>1</B><b>2</b>");
}

TEST(HtmlValidate, FailuresLeaveThePageAsItWas) {
  struct Case {
    const char* name;
    bool backup;
    std::string op, path_part;
    int32_t result;
    std::string message;  // the start of the entry after the title
  };
  const std::vector<Case> cases = {
      {"backup fails", true, "Publish", ".bak", 1, "Error backing up : "},
      {"page unreadable", false, "OpenForRead", "p.htm", 1, "Unable to open file : "},
      {"no temporary file", false, "CreateScratch", "", 1, "Unable to open file : "},
      {"final move fails", false, "Publish", "p.htm", 1, "Error copying to : "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TestEnv t;
    ScratchDir dir;
    WriteFile(dir / "p.htm", "a > b");
    clsHTMLValidate v(t.env);
    v.Filename(dir / "p.htm");
    v.Backup(c.backup);
    t.fs.FailOp(c.op, EACCES, c.path_part);
    EXPECT_EQ(v.HTMLValidate(), c.result);
    EXPECT_EQ(ReadFile(dir / "p.htm"), "a > b");
    const Texts list = v.ErrorList()->Texts();
    ASSERT_GE(list.size(), 2u);
    const size_t at = c.op == "Publish" && !c.backup ? 2 : 1;  // after the finding
    EXPECT_EQ(list[at].rfind(c.message, 0), 0u) << list[at];
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                            std::filesystem::directory_iterator()),
              1);
  }
  ScratchDir dir;
  WriteFile(dir / "p.htm", "a > b");
  clsHTMLValidate v;
  v.Filename(dir / "p.htm");
  v.Backup(true);
  EXPECT_EQ(v.HTMLValidate(), 0);
  EXPECT_EQ(ReadFile(dir / "p.htm.bak"), "a > b");
  EXPECT_EQ(ReadFile(dir / "p.htm"), "a &gt; b");
}

// ------------------------------------------------------------------- dialog

TEST(HtmlOptionsDialog, HandlersActAsTheUsersClicks) {
  frmHTMLOptions f;
  f.Load();
  EXPECT_EQ(f.Captions().size(), 8u);
  EXPECT_EQ(f.Captions()[0].text, "HTML Options");
  f.Tags("B|0,FONT|1,X");
  EXPECT_EQ(f.ListIndex, 0);
  EXPECT_FALSE(f.chkOverlap);
  f.ListIndex = 1;
  f.lstTags_Click();
  EXPECT_TRUE(f.chkOverlap);
  f.txtTag = "  em ";
  f.cmdAdd_Click();
  f.cmdAdd_Click();  // already there: nothing happens
  f.txtTag = "   ";
  f.cmdAdd_Click();
  EXPECT_EQ(f.Tags(), "B|0,FONT|1,X|0,EM|0,");
  EXPECT_EQ(f.ListIndex, 3);
  f.chkOverlap = true;
  f.chkOverlap_Click();
  f.cmdRemove_Click();  // the last item: the new last one is selected
  EXPECT_EQ(f.ListIndex, 2);
  EXPECT_EQ(f.Tags(), "B|0,FONT|1,X|0,");
  f.ListIndex = 0;
  f.cmdRemove_Click();
  EXPECT_EQ(f.ListIndex, 0);
  EXPECT_TRUE(f.chkOverlap);  // FONT is selected now
  f.cmdClear_Click();
  EXPECT_EQ(f.Tags(), "");
  EXPECT_TRUE(f.chkOverlap);  // nothing selected: the box keeps its state
  EXPECT_EQ(test::ErrorNumber([&] { f.Tags("B|x,"); }), 13);
}

// A window system whose dialogs the test operates.
class ScriptedWindowing : public Windowing {
 public:
  std::function<void(frmHTMLOptions&)> user;
  bool loaded_while_shown = false;
  std::optional<ScreenSize> Screen() override { return ScreenSize{1024, 768}; }
  bool ShowModal(Dispatch& form) override {
    loaded_while_shown = clsCommon().IsLoaded("frmHTMLOptions");
    user(dynamic_cast<frmHTMLOptions&>(form));
    return true;
  }
};

TEST(HtmlOptionsDialog, DisplayOptionsAppliesOkAndIgnoresCancel) {
  ScriptedWindowing screen;
  Env env = CurrentEnv();
  env.windowing = &screen;
  ScopedEnv scoped(env);
  clsHTMLValidate v;
  v.Tags("B|0,");
  screen.user = [](frmHTMLOptions& f) {
    f.txtTag = "em";
    f.cmdAdd_Click();
    f.chkOverlap = true;
    f.chkOverlap_Click();
    f.cmdCancel_Click();
  };
  v.DisplayOptions();
  EXPECT_TRUE(screen.loaded_while_shown);
  EXPECT_EQ(v.Tags(), "B|0,");
  screen.user = [](frmHTMLOptions& f) {
    f.txtTag = "em";
    f.cmdAdd_Click();
    f.chkOverlap = true;
    f.chkOverlap_Click();
    f.cmdOK_Click();
  };
  v.DisplayOptions();
  EXPECT_EQ(v.Tags(), "B|0,EM|1,");
  EXPECT_FALSE(clsCommon().IsLoaded("frmHTMLOptions"));
  // Without dialogs the table stays as it is.
  env.windowing = nullptr;
  ScopedEnv headless(env);
  clsHTMLValidate h;
  h.Tags("I|1,");
  h.DisplayOptions();
  EXPECT_EQ(h.Tags(), "I|1,");
}

// ------------------------------------------------------------------- corpus

TEST(HtmlValidate, CorpusPagesNeedNothingTheSecondTime) {
  if (!std::filesystem::exists(VOK_CORPUS_DIR "/html")) GTEST_SKIP() << "no corpus";
  int seen = 0;
  for (const auto& entry : std::filesystem::directory_iterator(VOK_CORPUS_DIR "/html")) {
    SCOPED_TRACE(entry.path().string());
    ++seen;
    Validated first = Validate(ReadFile(entry.path().string()));
    ASSERT_EQ(first.result, 0);
    Validated second = Validate(first.page);
    EXPECT_EQ(second.findings, Texts{});
    EXPECT_TRUE(second.page == first.page);
  }
  EXPECT_GT(seen, 0);
}

}  // namespace
}  // namespace vok
