// What every converter owes its caller: progress that only grows, and files
// that a failing call leaves exactly as they were.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include "html/memory_world.h"
#include "support/errors.h"
#include "voktools/asp2html.h"
#include "voktools/host.h"
#include "voktools/html_validate.h"
#include "voktools/mif_utilities.h"
#include "voktools/retrieve_file.h"
#include "voktools/rtf_util.h"

namespace vok {
namespace {

using Seen = std::vector<int16_t>;
using Folder = std::map<std::string, std::string>;
using World = test::MemoryWorld;

std::string Repeat(const std::string& text, int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += text;
  return s;
}

const std::string kPage = Repeat("<td><%=x%></td> a > b <b>\n", 20000);
const std::string kMif =
    Repeat("<Marker <MType 2> <MText `m'>>\r\n<Para <ParaLine <String `x'>>>\n", 4000);

struct Converter {
  const char* name;
  std::function<void(World&)> prepare;  // inputs and old outputs in /d
  // Runs the converter, handing every percentage to seen when given; returns
  // its result, or the error number it raised.
  std::function<int32_t(Env& env, Seen* seen)> run;
  int files = 1;         // files read, each of which must reach 100
  bool polled = false;   // progress read after each read: values may repeat
  bool pumps = true;     // the run owes the message loop a turn per value
  // A failed run leaves the folder as it was: not so for one that writes
  // several files one by one, nor for one that writes none.
  bool replaces = true;
  int32_t write_failure = 0;  // the result of a run whose write fails, if any
  std::string needed = "";    // the files it cannot do without reading ("": all)
  // A new object file a failed run may leave beside the unchanged document.
  std::string object_file = "";
};

void PrintTo(const Converter& c, std::ostream* os) { *os << c.name; }

int32_t Raised(const std::function<int32_t()>& run) {
  int32_t result = 0;
  const int error = test::ErrorNumber([&] { result = run(); });
  return error != 0 ? error : result;
}

template <typename Event>
void Listen(Event& event, Seen* seen) {
  if (seen == nullptr) return;
  event.Connect([seen](auto&& p) {
    seen->push_back(p);
    // A handler may change a value passed by reference: the run must not be
    // confused by it.
    if constexpr (std::is_lvalue_reference_v<decltype(p)>) p = 0;
  });
}

void PrepareAsp(World& w) {
  w.fs.WriteFile("/d/p.asp", kPage);
  w.fs.WriteFile("/d/p_asp.htm", "old html");
  w.fs.WriteFile("/d/p_asp.scr", "old script");
}

int32_t ExtractMif(Env& env, Seen* seen) {
  clsMIFUtilities m(env);
  Listen(m.Progress(), seen);
  m.StartBatch();
  m.MIFFile("/d/a.mif");
  return Raised([&] { return int32_t{m.Extract() + m.EndBatch()}; });
}

// A MIF file with insets, and the batch files of its markers translated.
void PrepareMif(World& w) {
  w.fs.WriteFile("/d/a.mif", kMif);
  ASSERT_EQ(ExtractMif(w.env, nullptr), 0);
  std::string index = w.Read("/d/QUON_ix.mif");
  index.replace(index.find("<String `m"), 10, "<String `M");
  w.fs.WriteFile("/d/QUON_ix.mif", index);
  w.fs.WriteFile("/d/a.mif", Repeat("<Pgf >\r\n=inset\r\n0a0b\r\n=EndInset\r\n", 300) + kMif);
}

std::function<int32_t(Env&, Seen*)> MifRun(int16_t (clsMIFUtilities::*call)()) {
  return [call](Env& env, Seen* seen) {
    clsMIFUtilities m(env);
    Listen(m.Progress(), seen);
    m.MIFFile("/d/a.mif");
    return Raised([&] { return int32_t{(m.*call)()}; });
  };
}

void PrepareRtf(World& w) {
  w.fs.WriteFile("/d/d.rtf", Repeat("para " + std::string(90, 't') + "{\\pict{0a}{0b}}", 400));
}

std::function<int32_t(Env&, Seen*)> RtfRun(int32_t (clsRTFUtil::*call)()) {
  return [call](Env& env, Seen* seen) {
    clsRTFUtil u(env);
    u.RTFFile("/d/d.rtf");
    u.ForceChunkSizeForTesting(512);
    Listen(u.Progress(), seen);
    // A failed final replacement leaves the RTF file as it was.
    return Raised([&] { return (u.*call)(); }) + u.LastMoveResult();
  };
}

const Converter kConverters[] = {
    {.name = "Asp2Html",
     .prepare = PrepareAsp,
     .run = [](Env& env, Seen* seen) {
       clsASP2HTML a(env);
       Listen(a.Progress(), seen);
       a.ASPFile("/d/p.asp");
       return Raised([&] { return a.ASP2HTML(); });
     },
     .write_failure = 57},
    {.name = "Html2Asp",
     .prepare = [](World& w) {
       PrepareAsp(w);
       clsASP2HTML a(w.env);
       a.ASPFile("/d/p.asp");
       ASSERT_EQ(a.ASP2HTML(), 0);
       w.fs.WriteFile("/d/p.asp", "old page");
     },
     .run = [](Env& env, Seen* seen) {
       clsASP2HTML a(env);
       Listen(a.Progress(), seen);
       a.HTMFile("/d/p_asp.htm");
       return Raised([&] { return a.HTML2ASP(); });
     },
     .write_failure = 57},
    {.name = "HtmlValidate",
     .prepare = [](World& w) { w.fs.WriteFile("/d/p.htm", kPage); },
     .run = [](Env& env, Seen* seen) {
       clsHTMLValidate v(env);
       Listen(v.Progress(), seen);
       v.Filename("/d/p.htm");
       return Raised([&] { return v.HTMLValidate(); });
     }},
    // The batch files are written one by one, each whole.
    {.name = "MifExtract",
     .prepare = [](World& w) { w.fs.WriteFile("/d/a.mif", kMif); },
     .run = ExtractMif,
     .replaces = false},
    {.name = "MifMergeReadsThreeBatchFilesAndTheMifFile",
     .prepare = PrepareMif,
     .run = MifRun(&clsMIFUtilities::Merge),
     .files = 4,
     .needed = "a.mif"},
    {.name = "MifRemoveObjects",
     .prepare = PrepareMif,
     .run = MifRun(&clsMIFUtilities::RemoveObjects),
     .object_file = "/d/a.obj"},
    {.name = "MifInsertObjects",
     .prepare = [](World& w) {
       PrepareMif(w);
       clsMIFUtilities m(w.env);
       m.MIFFile("/d/a.mif");
       ASSERT_EQ(m.RemoveObjects(), 0);
     },
     .run = MifRun(&clsMIFUtilities::InsertObjects)},
    {.name = "RtfExtract",
     .prepare = PrepareRtf,
     .run = RtfRun(&clsRTFUtil::ExtractObjects),
     .write_failure = clsRTFUtil::kReadWriteFailed,
     .object_file = "/d/d.obj"},
    {.name = "RtfInsert",
     .prepare = [](World& w) {
       PrepareRtf(w);
       clsRTFUtil u(w.env);
       u.RTFFile("/d/d.rtf");
       ASSERT_EQ(u.ExtractObjects(), 0);
     },
     .run = RtfRun(&clsRTFUtil::InsertObjects),
     .write_failure = clsRTFUtil::kReadWriteFailed},
    {.name = "RetrieveFile",
     .prepare = [](World& w) { w.fs.WriteFile("/d/l.txt", kPage); },
     .run = [](Env& env, Seen* seen) {
       clsRetrieveFile r(env);
       r.Filename("/d/l.txt");
       r.ChunkSize(1000);
       if (!r.OpenFile()) return 1;
       for (std::string line; r.GetLineFromFile(line);) {
         if (seen != nullptr) seen->push_back(r.Progress());
       }
       return 0;
     },
     .polled = true,
     .pumps = false,
     .replaces = false},
};

class Progress : public ::testing::TestWithParam<Converter> {};

// Percentages from 0 to 100 that only grow, each file read ending at 100,
// and the host's message loop given a turn at least as often.
TEST_P(Progress, GrowsToOneHundredForEveryFileRead) {
  const Converter& c = GetParam();
  World w;
  c.prepare(w);
  Seen seen;
  size_t turns = 0;
  SetMessagePump([&] { ++turns; });
  const int32_t result = c.run(w.env, &seen);
  SetMessagePump(nullptr);
  ASSERT_EQ(result, 0);
  if (c.polled) seen.erase(std::unique(seen.begin(), seen.end()), seen.end());
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.back(), 100);
  int reached = 0;
  int16_t last = -1;
  for (int16_t p : seen) {
    if (last == 100) last = -1;  // the next file
    ASSERT_GT(p, last) << ::testing::PrintToString(seen);
    ASSERT_LE(p, 100);
    reached += p == 100;
    last = p;
  }
  EXPECT_EQ(reached, c.files);
  if (c.pumps) EXPECT_GE(turns, seen.size());
}

class Failures : public ::testing::TestWithParam<Converter> {};

// Every call of the file system that can fail, and writes at the start,
// middle and end, fail in turn. The run then either fails and leaves the
// folder exactly as it was (old outputs kept, no scratch file left), or it
// gets over the failure and leaves the folder as a clean run does.
TEST_P(Failures, LeaveTheFolderAsItWasOrAsACleanRunDoes) {
  const Converter& c = GetParam();
  World clean;
  c.prepare(clean);
  const Folder before = clean.fs.Files("/d");
  std::map<std::string, int> calls;
  for (const char* op : {"OpenForRead", "CreateScratch", "Sync", "Publish", "Append"})
    calls[op] = -clean.fs.Calls(op);
  ASSERT_EQ(c.run(clean.env, nullptr), 0);
  for (auto& [op, count] : calls) count += clean.fs.Calls(op);
  const Folder after = clean.fs.Files("/d");
  ASSERT_TRUE(after != before);
  const std::set<int> nth{1, 2, calls["Append"] / 2, calls["Append"]};
  for (const auto& [op, count] : calls) {
    for (int k = 0; k < count; ++k) {
      if (op == "Append" && nth.count(k + 1) == 0) continue;
      SCOPED_TRACE(op + " #" + std::to_string(k + 1) + " of " + std::to_string(count));
      World w;
      c.prepare(w);
      const std::string part = op == "OpenForRead" ? c.needed : "";
      w.fs.FailOp(op, op == "Append" ? ENOSPC : EACCES, part, k);
      const int32_t result = c.run(w.env, nullptr);
      Folder now = w.fs.Files("/d");
      if (result == 0) {
        EXPECT_TRUE(now == after);
        continue;
      }
      if (!before.contains(c.object_file)) now.erase(c.object_file);
      EXPECT_TRUE(now == before) << ::testing::PrintToString(now);
      if (op == "Append" && c.write_failure != 0) EXPECT_EQ(result, c.write_failure);
    }
  }
}

std::string Name(const ::testing::TestParamInfo<Converter>& info) { return info.param.name; }

std::vector<Converter> Replacing() {
  std::vector<Converter> out;
  std::copy_if(std::begin(kConverters), std::end(kConverters), std::back_inserter(out),
               [](const Converter& c) { return c.replaces; });
  return out;
}

INSTANTIATE_TEST_SUITE_P(Converters, Progress, ::testing::ValuesIn(kConverters), Name);
INSTANTIATE_TEST_SUITE_P(Converters, Failures, ::testing::ValuesIn(Replacing()), Name);

}  // namespace
}  // namespace vok
