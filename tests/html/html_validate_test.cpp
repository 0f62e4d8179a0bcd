#include "voktools/html_validate.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <map>
#include <optional>
#include <ostream>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "frame/with_env.h"
#include "html/html_options.h"
#include "html/memory_world.h"
#include "platform/env.h"
#include "platform/windowing.h"
#include "support/errors.h"
#include "voktools/common.h"

namespace vok {
namespace {

using Texts = std::vector<std::string>;

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
  WithEnv<clsHTMLValidate> v(m.env);
  v.Filename("/p.htm");
  SetChunkSizeForTesting(v, chunk);
  v.KeepScriptText(keep);
  if (tags != nullptr) v.Tags(tags);
  Validated r{v.HTMLValidate(), m.Read("/p.htm"), {}, v.ErrorList()->Texts(), v.LastRun()};
  if (r.all.size() >= 2) r.findings.assign(r.all.begin() + 1, r.all.end() - 1);
  return r;
}

// The run in short: each listed repair as "line,row text" and "|" between
// them, then, if there are any, "/", the repairs made without an entry ("p"
// paragraphs, "c" comments closed) and the script texts the rules changed
// ("ELEMENT:line").
std::string Summary(const Validated& r) {
  const std::string kInfo = " INFORMATION : Line ";
  std::string s;
  for (const std::string& f : r.findings) {
    std::string e = f;
    if (e.starts_with(kInfo)) {
      e.erase(0, kInfo.size());
      if (size_t at = e.find(", Row "); at != std::string::npos) e.replace(at, 6, ",");
      if (size_t at = e.find(" : "); at != std::string::npos) e.replace(at, 3, " ");
    }
    s += (s.empty() ? "" : "|") + e;
  }
  if (r.run.Unlisted() == 0 && r.run.script_text_changes.empty()) return s;
  s += " / p" + std::to_string(r.run.paragraphs_closed) + " c" +
       std::to_string(r.run.comments_closed);
  for (const auto& c : r.run.script_text_changes) {
    s += " " + c.element + ":" + std::to_string(c.line);
  }
  return s;
}

struct Case {
  const char* name;
  std::string page;
  std::string validated;  // "": the page as it was
  std::string summary;
  bool keep = false;  // KeepScriptText
  const char* tags = nullptr;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

// (What the next run makes of a page without options is the fuzz target's.)
class Repairs : public ::testing::TestWithParam<Case> {};

TEST_P(Repairs, RewriteThePageAndReportEachRepair) {
  const Case& c = GetParam();
  for (int32_t chunk : {0, 16}) {
    SCOPED_TRACE(chunk);
    Validated r = Validate(c.page, chunk, c.keep, c.tags);
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.page, c.validated.empty() ? c.page : c.validated);
    EXPECT_EQ(Summary(r), c.summary);
    EXPECT_EQ(r.run.listed, static_cast<int32_t>(r.findings.size()));
    if (c.keep) EXPECT_EQ(Validate(r.page, chunk, true, c.tags).page, r.page);
  }
}

// A page of today's web: comparisons in a script, a child selector in a
// style sheet, a script wrapped in a comment never closed, and a paragraph
// the next one ends.
const std::string kModern =
    "<html><head>\n<style>\np > b { color: red }\n</style>\n<script>\n"
    "if (a < b && c > d) { x = \"<b>\"; }\n</script>\n<script><!-- if (a<b) f();</script>\n"
    "</head><body><p>a<p>b</body></html>\n";

INSTANTIATE_TEST_SUITE_P(
    Html, Repairs,
    ::testing::Values(
        Case{"WellFormedPageIsRewrittenByteForByte",
             "<html><body><p>Hi <b>there</b>, <font color=red><font size=2>x</font></font>"
             "</p>\n<!-- a\r\ncomment -->\n<a href=\"x>y\">don't</a></body></html>", "", ""},
        Case{"StrayBrackets", "x > y\r\nif a < 3 then\r\n", "x &gt; y\r\nif a &lt; 3 then\r\n",
             "1,3 Changing '>' to &gt;|2,6 Changing '<' to &lt;"},
        Case{"TagWithinTag", "<b <i>x</i></b>\n", "<b ><i>x</i></b>\n",
             "1,1 < ... < changed to < ... ><"},
        Case{"Overlap", "<b><i>x</b></i>", "<b><i>x</I>\r\n</B><i></i>",
             "1,8 <B> ... <I> ... </B> encountered"},
        Case{"NoOverlapAllowed", "<b>a<b>b</b></b>", "<b>a</B><b>b</b>",
             "1,5 Terminating previous <B> tag|1,13 Ignoring unnecessary </B> tag"},
        Case{"EmptyAnchorAndFont", "<a>x<FONT >y<a href=\"z\">w</a>", "xy<a href=\"z\">w</a>",
             "1,1 Ignoring empty <A> tag|1,5 Ignoring empty <FONT> tag"},
        Case{"Paragraphs", "<p>one<p>two</p></p>", "<p>one</P><p>two</p>",
             "1,17 Ignoring unnecessary </P> tag / p1 c0"},
        Case{"EndOfBodyClosesEverything", "<b><i>x</body>", "<b><i>x</I></B>\r\n</body>",
             "1,8 Terminating unfinished tags"},
        Case{"GlueLineEndsCommentAndTags", "<b><!-- c\r\n<!--HTMLGlue-->\r\n<i>",
             "<b><!-- c\r\n-->\r\n</B>\r\n<!--HTMLGlue-->\r\n<i></I>\r\n",
             "1,12 Terminating comment|1,12 Terminating unfinished tags|"
             "3,4 Terminating unfinished tags"},
        Case{"CommentLeftOpenInScript", "<script><!-- if (a<b)\n f();</SCRIPT>\n",
             "<script><!-- if (a<b)\n f();--></SCRIPT>\n", " / p0 c1 SCRIPT:2"},
        Case{"QuotesOpenOnlyAfterEquals", "<a title=x\"y>z\"></a>", "<a title=x\"y>z\"&gt;</a>",
             "1,16 Changing '>' to &gt;"},
        Case{"QuoteAfterPlusInsideAValue", "<a o=\"f('+'x>y')\">t</a>", "", ""},
        Case{"TenthQuotedValueIsPlainText", "<a v=\"+'+\"+'+\"+'+\"+'+\"+'+\"\n", "", ""},
        Case{"TagOpenAtTheEndStaysAfterTheGeneratedEndTags", "<b>x\n<i a=\"1",
             "<b>x\n</B>\r\n<i a=\"1", "2,8 Terminating unfinished tags"},
        Case{"CommentOpenAtTheEndTakesTheGeneratedEndTags", "<b>x<!-- c", "<b>x<!-- c</B>\r\n",
             "1,11 Terminating unfinished tags"},
        Case{"DroppedTag", "<b>x\n</i><!--HTMLGlue-->\n</b>\n", "<b>x\n<!--HTMLGlue-->\n</b>\n",
             "2,1 Ignoring unnecessary </I> tag"},
        // Script and style texts: kept only when asked, and every repair counted.
        Case{"ModernPageAsBefore", kModern,
             "<html><head>\n<style>\np &gt; b { color: red }\n</style>\n<script>\n"
             "if (a &lt; b && c &gt; d) { x = \"<b>\"; }\n</B>\r\n</SCRIPT><b>\n"
             "<script><!-- if (a<b) f();--></script>\n</head><body><p>a</P><p>b</B>\r\n"
             "</body></html>\n",
             "3,3 Changing '>' to &gt;|6,7 Changing '<' to &lt;|6,16 Changing '>' to &gt;|"
             "7,1 <SCRIPT> ... <B> ... </SCRIPT> encountered|9,22 Terminating unfinished tags"
             " / p1 c1 STYLE:3 SCRIPT:6 SCRIPT:8"},
        Case{"ModernPageKept", kModern,
             "<html><head>\n<style>\np > b { color: red }\n</style>\n<script>\n"
             "if (a < b && c > d) { x = \"<b>\"; }\n</script>\n"
             "<script><!-- if (a<b) f();</script>\n</head><body><p>a</P><p>b</body></html>\n",
             " / p1 c0", true},
        Case{"RepairAfterTheElementIsNotInIt", "<style>p{}</style>a > b<p>c<p>",
             "<style>p{}</style>a &gt; b<p>c</P><p>", "1,21 Changing '>' to &gt; / p1 c0"},
        Case{"ScriptTheRulesLeaveAloneIsNoChange", "<script><!-- a<b --></script>\n", "", ""},
        Case{"EndTagInAnyCaseWithASpace", "x<Script>a<b</SCRIPT >x > y",
             "x<Script>a<b</SCRIPT >x &gt; y", "1,25 Changing '>' to &gt;", true},
        Case{"EndTagNameAtTheLineEnd", "<script>a<b</script\n>c > d",
             "<script>a<b</script\n>c &gt; d", "2,4 Changing '>' to &gt;", true},
        Case{"GlueLineEndsTheScript", "<script>a<b\r\n<!--HTMLGlue-->\r\n<b>x",
             "<script>a<b\r\n</SCRIPT>\r\n<!--HTMLGlue-->\r\n<b>x</B>\r\n",
             "1,14 Terminating unfinished tags|3,5 Terminating unfinished tags", true},
        Case{"ScriptStartedByATagWithinATag", "<script <b>x</script>", "<script ><b>x</script>",
             "1,1 < ... < changed to < ... ><", true},
        Case{"ParagraphsClosedUnlisted", "<p>a<p>b<P>c</p>", "<p>a</P><p>b</P><P>c</p>",
             " / p2 c0"},
        Case{"KeptWhetherOrNotTheTableTracksIt", "<script>if (a<b) x();</script> > ",
             "<script>if (a<b) x();</script> &gt; ", "1,32 Changing '>' to &gt;", true, "B|0,"},
        // Names alike in their first eight bytes, and a name longer than most.
        Case{"LongNamesToldApart",
             "<abcdefgh1><abcdefgh2>x</abcdefgh1><abcdefghijklmnopq1 a><abcdefghijklmnopq2>y"
             "</abcdefghijklmnopq2>",
             "<abcdefgh1><abcdefgh2>x</ABCDEFGH2>\r\n</ABCDEFGH1><abcdefgh2><abcdefghijklmnopq1 a>"
             "<abcdefghijklmnopq2>y</abcdefghijklmnopq2></ABCDEFGHIJKLMNOPQ1></ABCDEFGH2>\r\n",
             "1,24 <ABCDEFGH1> ... <ABCDEFGH2> ... </ABCDEFGH1> encountered|"
             "1,100 Terminating unfinished tags",
             false, "ABCDEFGH1|0,ABCDEFGH2|0,ABCDEFGHIJKLMNOPQ1|0,"}),
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
    WithEnv<clsHTMLValidate> v(m.env);
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
struct ScriptedWindowing : Windowing {
  bool ok = false, loaded_while_shown = false;
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
  for (int pressed : {0, 1, 2}) {  // Cancel, OK, no dialogs at all
    Env env = CurrentEnv();
    env.windowing = pressed == 2 ? nullptr : &screen;
    screen.ok = pressed == 1;
    ScopedEnv scoped(env);
    clsHTMLValidate v;
    v.Tags("B|0,");
    v.DisplayOptions();
    EXPECT_EQ(v.Tags(), pressed == 1 ? "B|0,EM|1," : "B|0,");
    EXPECT_FALSE(clsCommon().IsLoaded("frmHTMLOptions"));
  }
  EXPECT_TRUE(screen.loaded_while_shown);
}

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

const std::vector<std::string> kContent = {"a < b", "c > d", "<b>", "</b>", "<!--", "-->", "\"",
    "'", "=", "\r\n", "</scrip", "<script>", "</styles>", "<p>", "x"};
const std::vector<std::string> kAround = {"<p>", "<b>", "</b>", "text", " > ", "\r\n", "<i>"};

// Every repair is counted: the page comes back byte for byte exactly when
// the run counts none, listed or not. And whatever a script or style sheet
// holds short of its end tag is kept when asked, whatever the page around it
// needs.
TEST(RepairCount, ThePageChangesExactlyWhenARepairIsCounted) {
  std::mt19937 rng(7);
  for (int n = 0; n < 1000; ++n) {
    const std::string element = n % 2 == 0 ? "script" : "STYLE";
    const std::string whole = "<" + element + " type=\"x\">" +
                              RandomPage(rng, kContent, static_cast<int>(rng() % 8)) + "</" +
                              element + ">";
    const std::string framed = RandomPage(rng, kAround, static_cast<int>(rng() % 4)) + whole +
                               RandomPage(rng, kAround, static_cast<int>(rng() % 4));
    const std::string page = RandomPage(rng, kPieces, 1 + static_cast<int>(rng() % 8));
    for (bool keep : {false, true}) {
      for (const std::string* p : {&page, &framed}) {
        Validated r = Validate(*p, n % 3 == 0 ? 16 : 0, keep);
        ASSERT_EQ(r.page != *p, r.run.listed + r.run.Unlisted() > 0)
            << "keep " << keep << ": " << ::testing::PrintToString(*p) << " -> "
            << ::testing::PrintToString(r.page);
        if (keep && p == &framed) {
          ASSERT_NE(r.page.find(whole), std::string::npos) << ::testing::PrintToString(*p);
          EXPECT_TRUE(r.run.script_text_changes.empty());
        }
      }
    }
  }
}

}  // namespace
}  // namespace vok
