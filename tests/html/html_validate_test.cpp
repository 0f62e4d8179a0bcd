#include "voktools/html_validate.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <map>
#include <optional>
#include <ostream>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "html/html_options.h"
#include "html/memory_world.h"
#include "platform/env.h"
#include "platform/windowing.h"
#include "support/errors.h"
#include "support/scratch_dir.h"
#include "voktools/common.h"

namespace vok {
namespace {

using Texts = std::vector<std::string>;
using Changes = std::vector<std::pair<std::string, int32_t>>;

using Memory = test::MemoryWorld;  // the property tests validate thousands of pages

struct Validated {
  int32_t result;
  std::string page;
  Texts findings;  // the error list without its title entry and summary
  Texts all;
  clsHTMLValidate::RunDetails run;
};

Validated Validate(const std::string& page, int32_t chunk = 0, bool keep = false,
                   const char* tags = nullptr) {
  static Memory m;
  m.fs.WriteFile("/p.htm", page);
  clsHTMLValidate v(m.env);
  v.Filename("/p.htm");
  v.SetChunkSizeForTesting(chunk);
  v.KeepScriptText(keep);
  if (tags != nullptr) v.Tags(tags);
  Validated r{v.HTMLValidate(), m.Read("/p.htm"), {}, v.ErrorList()->Texts(), v.LastRun()};
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

// (What the next run makes of the page is the fuzz target's.)
class Repairs : public ::testing::TestWithParam<Case> {};

TEST_P(Repairs, RewriteThePageAndReportEachRepair) {
  const Case& c = GetParam();
  for (int32_t chunk : {0, 16}) {
    Validated r = Validate(c.page, chunk);
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.page, c.validated);
    EXPECT_EQ(r.findings, c.findings);
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
             "<b>x\n</B>\r\n<i a=\"1", {Info(2, 8, kUnfinished)}},
        Case{"CommentOpenAtTheEndTakesTheGeneratedEndTags", "<b>x<!-- c", "<b>x<!-- c</B>\r\n",
             {Info(1, 11, kUnfinished)}},
        Case{"DroppedTag", "<b>x\n</i><!--HTMLGlue-->\n</b>\n", "<b>x\n<!--HTMLGlue-->\n</b>\n",
             {Info(2, 1, "Ignoring unnecessary </I> tag")}}),
    [](const auto& info) { return std::string(info.param.name); });

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
  // An empty table tracks nothing (P keeps its own rule); a flag that is not
  // a number reads as 0: no overlap.
  EXPECT_EQ(Validate("<b>x<p>a<p>b", 0, false, "").page, "<b>x<p>a</P><p>b");
  EXPECT_EQ(Validate("<b>1<b>2</b></b>", 0, false, "B|x,").page, "<b>1</B><b>2</b>");
}

// The backup is made first; when it cannot be, nothing else is done.
TEST(HtmlValidate, BackupKeepsThePageAsItWas) {
  using Files = std::map<std::string, std::string>;
  for (bool fail : {false, true}) {
    Memory m;
    m.fs.WriteFile("/d/p.htm", "a > b");
    if (fail) m.fs.FailOp("Publish", EACCES, ".bak");
    clsHTMLValidate v(m.env);
    v.Filename("/d/p.htm");
    v.Backup(true);
    EXPECT_EQ(v.HTMLValidate(), fail ? 1 : 0);
    const Files kept{{"/d/p.htm", "a > b"}}, done{{"/d/p.htm", "a &gt; b"}, {"/d/p.htm.bak", "a > b"}};
    EXPECT_EQ(m.fs.Files("/d"), fail ? kept : done);
  }
}

TEST(HtmlOptionsDialog, HandlersActAsTheUsersClicks) {
  frmHTMLOptions f;
  f.Load();
  EXPECT_EQ(f.Captions().size(), 8u);
  f.Tags("B|0,FONT|1,X");
  EXPECT_EQ(f.ListIndex, 0);
  EXPECT_FALSE(f.chkOverlap);
  f.ListIndex = 1;
  f.lstTags_Click();
  EXPECT_TRUE(f.chkOverlap);
  for (const char* typed : {"  em ", "em", "   "}) {  // a name already there or blank: nothing
    f.txtTag = typed;
    f.cmdAdd_Click();
  }
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

// A window system whose dialogs the test operates: the user adds EM with
// overlap, then presses OK or Cancel.
class ScriptedWindowing : public Windowing {
 public:
  bool ok = false;
  bool loaded_while_shown = false;
  std::optional<ScreenSize> Screen() override { return ScreenSize{1024, 768}; }
  bool ShowModal(Dispatch& form) override {
    loaded_while_shown = clsCommon().IsLoaded("frmHTMLOptions");
    auto& f = dynamic_cast<frmHTMLOptions&>(form);
    f.txtTag = "em";
    f.cmdAdd_Click();
    f.chkOverlap = true;
    f.chkOverlap_Click();
    ok ? f.cmdOK_Click() : f.cmdCancel_Click();
    return true;
  }
};

TEST(HtmlOptionsDialog, DisplayOptionsAppliesOkAndIgnoresCancel) {
  ScriptedWindowing screen;
  Env env = CurrentEnv();
  for (bool ok : {false, true}) {
    env.windowing = &screen;
    screen.ok = ok;
    ScopedEnv scoped(env);
    clsHTMLValidate v;
    v.Tags("B|0,");
    v.DisplayOptions();
    EXPECT_TRUE(screen.loaded_while_shown);
    EXPECT_EQ(v.Tags(), ok ? "B|0,EM|1," : "B|0,");
    EXPECT_FALSE(clsCommon().IsLoaded("frmHTMLOptions"));
  }
  // Without dialogs the table stays as it is.
  env.windowing = nullptr;
  ScopedEnv headless(env);
  clsHTMLValidate h;
  h.Tags("I|1,");
  h.DisplayOptions();
  EXPECT_EQ(h.Tags(), "I|1,");
}

TEST(HtmlValidate, CorpusPagesNeedNothingTheSecondTime) {
  if (!std::filesystem::exists(VOK_CORPUS_DIR "/html")) GTEST_SKIP() << "no corpus";
  int seen = 0;
  for (const auto& entry : std::filesystem::directory_iterator(VOK_CORPUS_DIR "/html")) {
    SCOPED_TRACE(entry.path().string());
    ++seen;
    Validated first = Validate(test::ReadFile(entry.path().string()));
    ASSERT_EQ(first.result, 0);
    Validated second = Validate(first.page);
    EXPECT_EQ(second.findings, Texts{});
    EXPECT_TRUE(second.page == first.page);
  }
  EXPECT_GT(seen, 0);
}

Changes ChangesOf(const clsHTMLValidate::RunDetails& run) {
  Changes changes;
  for (const auto& c : run.script_text_changes) changes.emplace_back(c.element, c.line);
  return changes;
}

// A page of today's web: comparisons in a script, a child selector in a
// style sheet, a script wrapped in a comment never closed, and a paragraph
// the next one ends.
const std::string kModern =
    "<html><head>\n<style>\np > b { color: red }\n</style>\n<script>\n"
    "if (a < b && c > d) { x = \"<b>\"; }\n</script>\n<script><!-- if (a<b) f();</script>\n"
    "</head><body><p>a<p>b</body></html>\n";

struct ScriptCase {
  const char* name;
  std::string page;
  bool keep;
  std::string validated;
  int32_t listed, paragraphs_closed, comments_closed;
  Changes changes;
  const char* tags = nullptr;
};

void PrintTo(const ScriptCase& c, std::ostream* os) { *os << c.name; }

class ScriptText : public ::testing::TestWithParam<ScriptCase> {};

TEST_P(ScriptText, KeptOnlyWhenAskedAndEveryRepairCounted) {
  const ScriptCase& c = GetParam();
  for (int32_t chunk : {0, 16}) {
    SCOPED_TRACE(chunk);
    Validated r = Validate(c.page, chunk, c.keep, c.tags);
    EXPECT_EQ(r.page, c.validated);
    EXPECT_EQ(r.run.listed, c.listed);
    EXPECT_EQ(r.run.paragraphs_closed, c.paragraphs_closed);
    EXPECT_EQ(r.run.comments_closed, c.comments_closed);
    EXPECT_EQ(ChangesOf(r.run), c.changes);
    Validated again = Validate(r.page, chunk, c.keep, c.tags);
    EXPECT_EQ(again.page, r.page);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Html, ScriptText,
    ::testing::Values(
        // Without the option the rules work as they always did.
        ScriptCase{"ModernPageAsBefore", kModern, false,
             "<html><head>\n<style>\np &gt; b { color: red }\n</style>\n<script>\n"
             "if (a &lt; b && c &gt; d) { x = \"<b>\"; }\n</B>\r\n</SCRIPT><b>\n"
             "<script><!-- if (a<b) f();--></script>\n</head><body><p>a</P><p>b</B>\r\n"
             "</body></html>\n",
             5, 1, 1, {{"STYLE", 3}, {"SCRIPT", 6}, {"SCRIPT", 8}}},
        ScriptCase{"ModernPageKept", kModern, true,
             "<html><head>\n<style>\np > b { color: red }\n</style>\n<script>\n"
             "if (a < b && c > d) { x = \"<b>\"; }\n</script>\n"
             "<script><!-- if (a<b) f();</script>\n</head><body><p>a</P><p>b</body></html>\n",
             0, 1, 0, {}},
        ScriptCase{"RepairAfterTheElementIsNotInIt", "<style>p{}</style>a > b<p>c<p>", false,
             "<style>p{}</style>a &gt; b<p>c</P><p>", 1, 1, 0, {}},
        ScriptCase{"ScriptTheRulesLeaveAloneIsNoChange", "<script><!-- a<b --></script>\n", false,
             "<script><!-- a<b --></script>\n", 0, 0, 0, {}},
        ScriptCase{"EndTagInAnyCaseWithASpace", "x<Script>a<b</SCRIPT >x > y", true,
             "x<Script>a<b</SCRIPT >x &gt; y", 1, 0, 0, {}},
        ScriptCase{"EndTagNameAtTheLineEnd", "<script>a<b</script\n>c > d", true,
             "<script>a<b</script\n>c &gt; d", 1, 0, 0, {}},
        ScriptCase{"GlueLineEndsTheScript", "<script>a<b\r\n<!--HTMLGlue-->\r\n<b>x", true,
             "<script>a<b\r\n</SCRIPT>\r\n<!--HTMLGlue-->\r\n<b>x</B>\r\n", 2, 0, 0, {}},
        ScriptCase{"ScriptStartedByATagWithinATag", "<script <b>x</script>", true,
             "<script ><b>x</script>", 1, 0, 0, {}},
        ScriptCase{"ParagraphsClosedUnlisted", "<p>a<p>b<P>c</p>", false, "<p>a</P><p>b</P><P>c</p>", 0,
             2, 0, {}},
        ScriptCase{"KeptWhetherOrNotTheTableTracksIt", "<script>if (a<b) x();</script> > ", true,
                   "<script>if (a<b) x();</script> &gt; ", 1, 0, 0, {}, "B|0,"}),
    [](const auto& info) { return std::string(info.param.name); });

// Random pages from pieces that exercise every rule.
std::string RandomPage(std::mt19937& rng, const std::vector<std::string>& pieces, int count) {
  std::string page;
  for (int i = 0; i < count; ++i) page += pieces[rng() % pieces.size()];
  return page;
}

// Pieces that need no repair come more often, so that pages whose only
// repairs go unlisted are frequent.
const std::vector<std::string> kPieces = {
    "<p>", "<p>", "text\r\n", "<b>x</b>", "<script><!-- f(a<b)</SCRIPT>", "<script><!-- f(a<b)",
    "</SCRIPT>", "</p>", "<i>", "</I>", "a < b > c", "\"='", "<!--HTMLGlue-->\r\n", "</body>",
    "<", "<style>", "</style>", "<font size=2>", "<a>", " -->"};

// Every repair is counted: the page comes back byte for byte exactly when
// the run counts none, listed or not.
TEST(RepairCount, ThePageChangesExactlyWhenARepairIsCounted) {
  std::mt19937 rng(7);
  for (int n = 0; n < 1000; ++n) {
    const std::string page = RandomPage(rng, kPieces, 1 + static_cast<int>(rng() % 8));
    for (bool keep : {false, true}) {
      Validated r = Validate(page, 0, keep);
      ASSERT_EQ(r.page != page, r.run.listed + r.run.Unlisted() > 0)
          << "keep " << keep << ": " << ::testing::PrintToString(page) << " -> "
          << ::testing::PrintToString(r.page);
    }
  }
}

// Whatever a script or style sheet holds short of its end tag comes through
// unchanged, whatever the page around it needs.
TEST(ScriptText, AnyContentUpToTheEndTagIsKept) {
  const std::vector<std::string> content = {
      "a < b", "c > d", "<b>", "</b>", "<!--", "-->", "\"", "'", "=", "\r\n", "</scrip",
      "<script>", "</styles>", "<p>", "x"};
  const std::vector<std::string> around = {"<p>", "<b>", "</b>", "text", " > ", "\r\n", "<i>"};
  std::mt19937 rng(11);
  for (int n = 0; n < 1000; ++n) {
    const std::string element = n % 2 == 0 ? "script" : "STYLE";
    const std::string body = RandomPage(rng, content, static_cast<int>(rng() % 8));
    const std::string whole = "<" + element + " type=\"x\">" + body + "</" + element + ">";
    const std::string page = RandomPage(rng, around, static_cast<int>(rng() % 4)) + whole +
                             RandomPage(rng, around, static_cast<int>(rng() % 4));
    Validated r = Validate(page, n % 3 == 0 ? 16 : 0, true);
    ASSERT_NE(r.page.find(whole), std::string::npos) << ::testing::PrintToString(page);
    EXPECT_TRUE(r.run.script_text_changes.empty());
  }
}

}  // namespace
}  // namespace vok
