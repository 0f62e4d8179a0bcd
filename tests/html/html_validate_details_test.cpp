// clsHTMLValidate: script and style text kept as it stands, the repairs made
// without an entry in the error list, and the elements whose content the
// repairs change.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <optional>
#include <ostream>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "support/scratch_dir.h"
#include "voktools/html_validate.h"

namespace vok {
namespace {

using test::ReadFile;
using test::ScratchDir;
using test::WriteFile;
using Changes = std::vector<std::pair<std::string, int32_t>>;

struct Outcome {
  std::string page;
  clsHTMLValidate::RunDetails run;
};

// A scratch folder in memory where the system has one: every replacement
// is flushed to disk, and the property tests validate hundreds of pages.
class FastScratchDir {
 public:
  FastScratchDir() {
    const char* tmp = std::getenv("TMPDIR");
    const std::string saved = tmp != nullptr ? tmp : "";
    const bool in_memory = ::access("/dev/shm", W_OK | X_OK) == 0;
    if (in_memory) ::setenv("TMPDIR", "/dev/shm", 1);
    dir_.emplace();
    if (in_memory) tmp != nullptr ? ::setenv("TMPDIR", saved.c_str(), 1) : ::unsetenv("TMPDIR");
  }
  std::string operator/(const std::string& name) const { return *dir_ / name; }

 private:
  std::optional<ScratchDir> dir_;
};

Outcome Validate(const std::string& page, bool keep, int32_t chunk = 0,
                 const char* tags = nullptr) {
  static const FastScratchDir dir;
  WriteFile(dir / "p.htm", page);
  clsHTMLValidate v;
  v.Filename(dir / "p.htm");
  v.KeepScriptText(keep);
  v.SetChunkSizeForTesting(chunk);
  if (tags != nullptr) v.Tags(tags);
  EXPECT_EQ(v.HTMLValidate(), 0);
  return {ReadFile(dir / "p.htm"), v.LastRun()};
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

struct Case {
  const char* name;
  std::string page;
  bool keep;
  std::string validated;
  int32_t listed, paragraphs_closed, comments_closed;
  Changes changes;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class ScriptText : public ::testing::TestWithParam<Case> {};

TEST_P(ScriptText, KeptOnlyWhenAskedAndEveryRepairCounted) {
  const Case& c = GetParam();
  for (int32_t chunk : {0, 16}) {
    SCOPED_TRACE(chunk);
    Outcome r = Validate(c.page, c.keep, chunk);
    EXPECT_EQ(r.page, c.validated);
    EXPECT_EQ(r.run.listed, c.listed);
    EXPECT_EQ(r.run.paragraphs_closed, c.paragraphs_closed);
    EXPECT_EQ(r.run.comments_closed, c.comments_closed);
    EXPECT_EQ(ChangesOf(r.run), c.changes);
    Outcome again = Validate(r.page, c.keep, chunk);
    EXPECT_EQ(again.page, r.page);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Html, ScriptText,
    ::testing::Values(
        // Without the option the rules work as they always did.
        Case{"ModernPageAsBefore", kModern, false,
             "<html><head>\n<style>\np &gt; b { color: red }\n</style>\n<script>\n"
             "if (a &lt; b && c &gt; d) { x = \"<b>\"; }\n</B>\r\n</SCRIPT><b>\n"
             "<script><!-- if (a<b) f();--></script>\n</head><body><p>a</P><p>b</B>\r\n"
             "</body></html>\n",
             5, 1, 1, {{"STYLE", 3}, {"SCRIPT", 6}, {"SCRIPT", 8}}},
        Case{"ModernPageKept", kModern, true,
             "<html><head>\n<style>\np > b { color: red }\n</style>\n<script>\n"
             "if (a < b && c > d) { x = \"<b>\"; }\n</script>\n"
             "<script><!-- if (a<b) f();</script>\n</head><body><p>a</P><p>b</body></html>\n",
             0, 1, 0, {}},
        Case{"RepairAfterTheElementIsNotInIt", "<style>p{}</style>a > b<p>c<p>", false,
             "<style>p{}</style>a &gt; b<p>c</P><p>", 1, 1, 0, {}},
        Case{"ScriptTheRulesLeaveAloneIsNoChange", "<script><!-- a<b --></script>\n", false,
             "<script><!-- a<b --></script>\n", 0, 0, 0, {}},
        Case{"EndTagInAnyCaseWithASpace", "x<Script>a<b</SCRIPT >x > y", true,
             "x<Script>a<b</SCRIPT >x &gt; y", 1, 0, 0, {}},
        Case{"LongerNameIsNoEndTag", "<style>a</styles>b > c</style>", true,
             "<style>a</styles>b > c</style>", 0, 0, 0, {}},
        Case{"EndTagNameAtTheLineEnd", "<script>a<b</script\n>c > d", true,
             "<script>a<b</script\n>c &gt; d", 1, 0, 0, {}},
        Case{"GlueLineEndsTheScript", "<script>a<b\r\n<!--HTMLGlue-->\r\n<b>x", true,
             "<script>a<b\r\n</SCRIPT>\r\n<!--HTMLGlue-->\r\n<b>x</B>\r\n", 2, 0, 0, {}},
        Case{"ScriptStartedByATagWithinATag", "<script <b>x</script>", true,
             "<script ><b>x</script>", 1, 0, 0, {}},
        Case{"ParagraphsClosedUnlisted", "<p>a<p>b<P>c</p>", false, "<p>a</P><p>b</P><P>c</p>", 0,
             2, 0, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ScriptText, KeptWhetherOrNotTheTableTracksTheElement) {
  Outcome r = Validate("<script>if (a<b) x();</script> > ", true, 0, "B|0,");
  EXPECT_EQ(r.page, "<script>if (a<b) x();</script> &gt; ");
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

// Every repair is counted: the page comes back byte for byte exactly when
// the run counts none, listed or not.
TEST(RepairCount, ThePageChangesExactlyWhenARepairIsCounted) {
  std::mt19937 rng(7);
  for (int n = 0; n < 1000; ++n) {
    const std::string page = RandomPage(rng, kPieces, 1 + static_cast<int>(rng() % 8));
    for (bool keep : {false, true}) {
      Outcome r = Validate(page, keep);
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
    Outcome r = Validate(page, true, n % 3 == 0 ? 16 : 0);
    ASSERT_NE(r.page.find(whole), std::string::npos) << ::testing::PrintToString(page);
    EXPECT_TRUE(r.run.script_text_changes.empty());
  }
}

}  // namespace
}  // namespace vok
