// Two runs of a rewriting command on one file at once end as the same two
// runs one after the other would.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cli/child_process.h"

namespace vok::test {
namespace {

// Large enough that two runs overlap for a good part of their time.
std::string Repeat(const std::string& unit, size_t size = 4 << 20) {
  std::string out;
  while (out.size() < size) out += unit;
  return out;
}

struct Command {
  const char* name;
  std::string file, content;
  std::string prepare, words;  // prepare: run once before, "" for none
};

void PrintTo(const Command& c, std::ostream* os) { *os << c.name; }

class ConcurrentRuns : public ::testing::TestWithParam<Command> {};

TEST_P(ConcurrentRuns, EndAsTheSameRunsOneAfterTheOther) {
  const Command& c = GetParam();
  ScratchDir together, in_turn;
  for (const ScratchDir* d : {&together, &in_turn}) {
    WriteFile(*d / c.file, c.content);
    if (!c.prepare.empty()) ASSERT_EQ(RunCli(Args(c.prepare, *d)).status, 0);
  }
  std::vector<int> sequential;
  for (int i = 0; i < 2; ++i) sequential.push_back(RunCli(Args(c.words, in_turn)).status);
  ChildProcess first(Args(c.words, together)), second(Args(c.words, together));
  std::vector<int> concurrent{first.Finish().status, second.Finish().status};
  std::sort(concurrent.begin(), concurrent.end());
  std::sort(sequential.begin(), sequential.end());
  EXPECT_EQ(concurrent, sequential);
  ASSERT_EQ(together.Entries(), in_turn.Entries());
  for (const std::string& name : together.Entries()) {
    EXPECT_TRUE(ReadFile(together / name) == ReadFile(in_turn / name)) << name << " differs";
  }
}

INSTANTIATE_TEST_SUITE_P(
    All, ConcurrentRuns,
    ::testing::Values(
        Command{"rtf_extract", "d.rtf", "{\\rtf1 " + Repeat("text {\\pict " + std::string(200, 'a') + "}\r\n") + "}",
                "", "rtf extract -q $DIR/d.rtf"},
        Command{"html2asp", "p.asp", Repeat("<p title=<%=t%>><%=x%> text</p>\r\n"), "asp2html $DIR/p.asp",
                "html2asp -q $DIR/p_asp.htm"},
        Command{"mif_merge", "a.mif",
                Repeat("<Pgf <PgfNumFormat `N:'>>\n<Marker <MType 2> <MText `idx'>>\n=Inset\n&data\n=EndInset\n",
                       2 << 20),
                "mif extract $DIR/a.mif", "mif merge -q $DIR/a.mif"},
        Command{"validate", "v.html", Repeat("<b><i>x</b></i> a < b\r\n"), "", "validate -q --backup $DIR/v.html"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vok::test
