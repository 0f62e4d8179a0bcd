// Two runs of a rewriting command on one file at once end as the same two
// runs one after the other would, and a run killed at any moment leaves
// each file old or complete, with nothing beside them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "cli/child_process.h"
#include "support/scratch_dir.h"

namespace vok::test {
namespace {

std::string Repeat(const std::string& unit, size_t size) {
  std::string out;
  while (out.size() < size) out += unit;
  return out;
}

// Large enough that two runs overlap for a good part of their time.
constexpr size_t kSize = 4 << 20;

struct Command {
  const char* name;
  std::string file, content;
  std::string prepare, words;  // prepare: run once before, "" for none
};

std::vector<Command> Commands() {
  const std::string rtf = "{\\rtf1 " + Repeat("text {\\pict " + std::string(200, 'a') + "}\r\n", kSize) + "}";
  const std::string page = Repeat("<p title=<%=t%>><%=x%> text</p>\r\n", kSize);
  const std::string mif = Repeat(
      "<Pgf <PgfNumFormat `N:'>>\n<Marker <MType 2> <MText `idx'>>\n=Inset\n&data\n=EndInset\n",
      kSize / 2);
  const std::string html = Repeat("<b><i>x</b></i> a < b\r\n", kSize);
  return {
      {"rtf_extract", "d.rtf", rtf, "", "rtf extract -q $DIR/d.rtf"},
      {"rtf_insert", "d.rtf", rtf, "rtf extract $DIR/d.rtf", "rtf insert -q $DIR/d.rtf"},
      {"asp2html", "p.asp", page, "", "asp2html -q $DIR/p.asp"},
      {"html2asp", "p.asp", page, "asp2html $DIR/p.asp", "html2asp -q $DIR/p_asp.htm"},
      {"mif_extract", "a.mif", mif, "", "mif extract -q $DIR/a.mif"},
      {"mif_merge", "a.mif", mif, "mif extract $DIR/a.mif", "mif merge -q $DIR/a.mif"},
      {"mif_remove", "a.mif", mif, "", "mif remove-objects -q $DIR/a.mif"},
      {"mif_insert", "a.mif", mif, "mif remove-objects $DIR/a.mif", "mif insert-objects -q $DIR/a.mif"},
      {"validate", "v.html", html, "", "validate -q $DIR/v.html"},
  };
}

void PrintTo(const Command& c, std::ostream* os) { *os << c.name; }

class ConcurrentRuns : public ::testing::TestWithParam<Command> {};

TEST_P(ConcurrentRuns, EndAsTheSameRunsOneAfterTheOther) {
  const Command& c = GetParam();
  ScratchDir together, in_turn;
  for (const ScratchDir* d : {&together, &in_turn}) {
    WriteFile(*d / c.file, c.content);
    if (!c.prepare.empty()) {
      ASSERT_EQ(RunCli(Args(c.prepare, *d)).status, 0);
    }
  }
  std::vector<int> sequential;
  for (int i = 0; i < 2; ++i) sequential.push_back(RunCli(Args(c.words, in_turn)).status);

  // Reports go nowhere: a child waiting to write one while holding its
  // folder lock would hold up the other.
  const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  ChildProcess first(Args(c.words, together), null, null);
  ChildProcess second(Args(c.words, together), null, null);
  ::close(null);
  std::vector<int> concurrent{first.Finish(), second.Finish()};
  std::sort(concurrent.begin(), concurrent.end());
  std::sort(sequential.begin(), sequential.end());
  EXPECT_EQ(concurrent, sequential);
  ASSERT_EQ(together.Entries(), in_turn.Entries());
  for (const std::string& name : together.Entries()) {
    EXPECT_TRUE(ReadFile(together / name) == ReadFile(in_turn / name)) << name << " differs";
  }
}

INSTANTIATE_TEST_SUITE_P(All, ConcurrentRuns, ::testing::ValuesIn(Commands()),
                         [](const auto& info) { return std::string(info.param.name); });

// Killed at any moment, an extraction leaves the RTF file old or new and its
// object file absent or complete (complete before the RTF file changes),
// and no scratch file.
TEST(KilledRuns, LeaveEachFileOldOrCompleteAndNothingElse) {
  const std::string rtf =
      "{\\rtf1 " + Repeat("text {\\pict " + std::string(500, '7') + "}\r\n", 24 << 20) + "}";
  ScratchDir reference;
  WriteFile(reference / "d.rtf", rtf);
  ASSERT_EQ(RunCli({"rtf", "extract", reference / "d.rtf", "-q"}).status, 0);
  const std::string extracted = ReadFile(reference / "d.rtf");
  const std::string objects = ReadFile(reference / "d.obj");
  int states[3] = {0, 0, 0};  // untouched, objects out, done
  for (int delay_ms : {0, 5, 15, 30, 60, 100, 150, 200, 300, 450}) {
    SCOPED_TRACE(delay_ms);
    ScratchDir dir;
    WriteFile(dir / "d.rtf", rtf);
    ChildProcess run({"rtf", "extract", dir / "d.rtf", "-q"});
    std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
    run.Kill();
    (void)run.Finish();
    const std::vector<std::string> names = dir.Entries();
    const bool has_obj = std::find(names.begin(), names.end(), "d.obj") != names.end();
    EXPECT_EQ(names.size(), has_obj ? 2u : 1u) << names.back();
    const std::string now = ReadFile(dir / "d.rtf");
    EXPECT_TRUE(now == rtf || now == extracted);
    if (has_obj) {
      EXPECT_TRUE(ReadFile(dir / "d.obj") == objects);
    }
    if (now == extracted) {
      EXPECT_TRUE(has_obj);
    }
    ++states[now == extracted ? 2 : has_obj ? 1 : 0];
  }
  // The delays reach from before the first write to after the end.
  EXPECT_GT(states[0], 0);
  EXPECT_GT(states[2], 0);
}

}  // namespace
}  // namespace vok::test
