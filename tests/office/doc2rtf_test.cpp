#include "voktools/doc2rtf.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "frame/with_env.h"
#include "html/memory_world.h"
#include "support/scripted_office.h"
#include "voktools/automation_error.h"
#include "voktools/factory.h"

namespace vok {
namespace {

using test::ScriptedOffice;

// A run of late-bound calls on one object against the scripted server.
// Steps: "DOC2RTF" converts /d/a.doc, "RTF2DOC" converts /d/b.rtf, each
// with an empty target; "DOC2RTF /d/x.doc" names the source ("-": empty);
// "StartBatch", "EndBatch". Both sources and both default targets exist
// before the run.
struct CallRun {
  const char* name;
  bool user_running;
  std::vector<std::pair<std::string, int>> fails;
  std::vector<std::string> steps;
  // Per step: "0"/"1" for a conversion, "" for a batch call, or the error
  // number it threw.
  std::vector<std::string> results;
  std::vector<std::string> transcript;
  std::vector<std::string> running_after;
  std::vector<std::string> open_after = {};
};

const std::string kAttach = "GetRunning(Word.Application)";
const std::string kNone = kAttach + "  ! none";
const std::string kCreate = "Create(Word.Application)";
const std::string kCannotCreate = kCreate + "  ! fails";
std::vector<std::string> Open(const std::string& app, const std::string& file) {
  return {app + ".Visible = true", app + ".Documents",
          app + ".Documents.Open(\"" + file + "\", false, true, false)"};
}
std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
using L = std::vector<std::string>;
const L kToRtf = {"doc1.SaveAs(\"/d/a_doc.rtf\", 6%)", "doc1.Close(0%)"};

const CallRun kRuns[] = {
    {"StartsQuitsItsOwn", false, {}, {"DOC2RTF"}, {"0"},
     L{kNone, kCreate} + Open("app1", "/d/a.doc") + kToRtf + L{"app1.Quit(0%)"}, {}},
    {"UsesTheUsersInstanceAndLeavesIt", true, {}, {"DOC2RTF"}, {"0"},
     L{kAttach} + Open("user", "/d/a.doc") + kToRtf, {"user"}},
    {"OpensByFileWhenNoneStarts", false, {{"Create", 0}}, {"DOC2RTF"}, {"0"},
     L{kNone, kCannotCreate, "GetFileObject(\"/d/a.doc\")", "doc1.Application",
       "app1.Visible = true"} + kToRtf + L{"app1.Quit(0%)"},
     {}},
    {"NoApplicationAtAll", false, {{"Create", 0}, {"GetFileObject", 0}}, {"DOC2RTF"}, {"1"},
     {kNone, kCannotCreate, "GetFileObject(\"/d/a.doc\")  ! fails"}, {}},
    {"MissingOrEmptySourceTouchesNothing", true, {}, {"DOC2RTF /d/none.doc", "RTF2DOC -"},
     {"1", "1"}, {}, {"user"}},
    // Each single call starts and quits an instance of its own.
    {"SingleCallsEachStartOne", false, {}, {"DOC2RTF", "RTF2DOC"}, {"0", "0"},
     L{kNone, kCreate} + Open("app1", "/d/a.doc") + kToRtf + L{"app1.Quit(0%)", kNone, kCreate} +
         Open("app2", "/d/b.rtf") + L{"doc2.SaveAs(\"/d/b.doc\", 0%)", "doc2.Close(0%)", "app2.Quit(0%)"},
     {}},
    {"BatchUsesOneInstance", false, {}, {"StartBatch", "DOC2RTF", "RTF2DOC", "EndBatch", "EndBatch"},
     {"", "0", "0", "", ""},
     L{kNone, kCreate} + Open("app1", "/d/a.doc") + kToRtf + L{kAttach} + Open("app1", "/d/b.rtf") +
         L{"doc2.SaveAs(\"/d/b.doc\", 0%)", "doc2.Close(0%)", "app1.Quit(0%)"},
     {}},
    {"BatchOpenedByFile", false, {{"Create", 0}}, {"StartBatch", "DOC2RTF", "DOC2RTF", "EndBatch"},
     {"", "0", "0", ""},
     L{kNone, kCannotCreate, "GetFileObject(\"/d/a.doc\")", "doc1.Application",
       "app1.Visible = true"} + kToRtf + L{kAttach} + Open("app1", "/d/a.doc") +
         L{"doc2.SaveAs(\"/d/a_doc.rtf\", 6%)", "doc2.Close(0%)", "app1.Quit(0%)"},
     {}},
    {"BatchOnTheUsersInstanceQuitsNothing", true, {}, {"StartBatch", "DOC2RTF", "EndBatch"},
     {"", "0", ""}, L{kAttach} + Open("user", "/d/a.doc") + kToRtf, {"user"}},
    // The quit's failure reaches the caller of EndBatch, once.
    {"EndBatchQuitFails", false, {{"Quit", 1}}, {"StartBatch", "DOC2RTF", "EndBatch", "EndBatch"},
     {"", "0", "440", ""},
     L{kNone, kCreate} + Open("app1", "/d/a.doc") + kToRtf + L{"app1.Quit(0%)  ! fails"}, {"app1"}},
    {"QuitFailureAfterConversionUnchecked", false, {{"Quit", 1}}, {"DOC2RTF"}, {"0"},
     L{kNone, kCreate} + Open("app1", "/d/a.doc") + kToRtf + L{"app1.Quit(0%)  ! fails"}, {"app1"}},
    {"CloseFailureUnchecked", false, {{"Close", 1}}, {"DOC2RTF"}, {"0"},
     L{kNone, kCreate} + Open("app1", "/d/a.doc") +
         L{"doc1.SaveAs(\"/d/a_doc.rtf\", 6%)", "doc1.Close(0%)  ! fails", "app1.Quit(0%)"},
     {}},
    // A failed save to RTF still closes the document.
    {"SaveToRtfFails", false, {{"SaveAs", 1}}, {"DOC2RTF"}, {"1"},
     L{kNone, kCreate} + Open("app1", "/d/a.doc") +
         L{"doc1.SaveAs(\"/d/a_doc.rtf\", 6%)  ! fails", "doc1.Close(0%)", "app1.Quit(0%)"},
     {}},
    // A failed save to a document leaves it open in the instance.
    {"SaveToDocumentFailsLeavesItOpen", false, {{"SaveAs", 1}}, {"StartBatch", "RTF2DOC"},
     {"", "1"}, L{kNone, kCreate} + Open("app1", "/d/b.rtf") + L{"doc1.SaveAs(\"/d/b.doc\", 0%)  ! fails"},
     {"app1"}, {"doc1"}},
    // Showing or opening failing: the steps go on, but nothing is saved.
    {"VisibleFailsOnTheUsersInstance", true, {{"Visible", 1}}, {"DOC2RTF"}, {"1"},
     {kAttach, "user.Visible = true  ! fails", "user.Documents",
      "user.Documents.Open(\"/d/a.doc\", false, true, false)"},
     {"user"}, {"doc1"}},
    {"OpenFails", false, {{"Open", 1}}, {"DOC2RTF"}, {"1"},
     L{kNone, kCreate, "app1.Visible = true", "app1.Documents",
       "app1.Documents.Open(\"/d/a.doc\", false, true, false)  ! fails", "app1.Quit(0%)"},
     {}},
    // The failures of the tries before are cleared: only the last one counts.
    {"AttachFailsThenStarts", true, {{"GetRunning", 1}}, {"DOC2RTF"}, {"0"},
     L{kAttach + "  ! fails", kCreate} + Open("app1", "/d/a.doc") + kToRtf + L{"app1.Quit(0%)"},
     {"user"}},
    // Without its application the document is not saved; the instance
    // opened for it cannot be reached to quit it.
    {"ApplicationOfFileFails", false, {{"Create", 0}, {"Application", 1}}, {"DOC2RTF"}, {"1"},
     {kNone, kCannotCreate, "GetFileObject(\"/d/a.doc\")", "doc1.Application  ! fails"}, {"app1"},
     {"doc1"}},
};

class Doc2RtfRun : public ::testing::TestWithParam<CallRun> {
 protected:
  Doc2RtfRun() {
    world_.env.office = &office_;
    for (const char* f : {"/d/a.doc", "/d/b.rtf", "/d/a_doc.rtf", "/d/b.doc"}) {
      world_.fs.WriteFile(f, "old");
    }
    office_.on_save = [this](const std::string& target, const std::string& source) {
      world_.fs.WriteFile(target, "from " + source);
    };
  }

  test::MemoryWorld world_;
  ScriptedOffice office_;
};

TEST_P(Doc2RtfRun, MakesTheCallsInOrder) {
  const CallRun& run = GetParam();
  if (run.user_running) office_.StartUserInstance();
  for (const auto& [member, nth] : run.fails) office_.Fail(member, nth);
  std::vector<std::string> results;
  {
    ScopedEnv scope(world_.env);
    ObjectRef object = CreateObject("VOKTools.clsDOC2RTF");
    for (const std::string& step : run.steps) {
      const std::string op = step.substr(0, step.find(' '));
      if (op == "StartBatch" || op == "EndBatch") {
        try {
          object->Call(op);
          results.push_back("");
        } catch (const AutomationError& e) {
          results.push_back(std::to_string(e.number()));
        }
        continue;
      }
      const bool to_rtf = op == "DOC2RTF";
      std::string source = step.size() > op.size() ? step.substr(op.size() + 1)
                                                   : (to_rtf ? "/d/a.doc" : "/d/b.rtf");
      if (source == "-") source.clear();
      const std::string target = to_rtf ? "/d/a_doc.rtf" : "/d/b.doc";
      world_.fs.WriteFile(target, "old");
      object->Let(to_rtf ? "DOCFile" : "RTFFile", source);
      object->Let(to_rtf ? "RTFFile" : "DOCFile", "");
      const int32_t result = object->Call(op).ToInt32();
      results.push_back(std::to_string(result));
      if (source != "/d/a.doc" && source != "/d/b.rtf") continue;
      // The derived target is read back; it holds the new document exactly
      // when the conversion succeeded, even when the application was never
      // reached.
      EXPECT_EQ(object->Get(to_rtf ? "RTFFile" : "DOCFile").ToText(), target) << step;
      EXPECT_EQ(world_.Read(target), result == 0 ? "from " + source : "") << step;
    }
  }
  EXPECT_EQ(results, run.results);
  EXPECT_EQ(office_.transcript(), run.transcript);
  // Destroying the object quits nothing.
  EXPECT_EQ(office_.Running(), run.running_after);
  EXPECT_EQ(office_.OpenDocuments(), run.open_after);
}

INSTANTIATE_TEST_SUITE_P(All, Doc2RtfRun, ::testing::ValuesIn(kRuns),
                         [](const auto& info) { return std::string(info.param.name); });

struct Names {
  const char* source;
  const char* target;
};

// RTF2DOC drops a final "_doc" in any case; DOC2RTF adds one.
TEST(Doc2Rtf, DerivesTheTargetNames) {
  const Names kToDocument[] = {
      {"C:\\t\\a_Doc.rtf", "C:\\t\\a.doc"}, {"/t/notes.rtf", "/t/notes.doc"},
      {"/t/_doc.rtf", "/t/.doc"},           {"/t/a_doc_DOC.rtf", "/t/a_doc.doc"},
      {"/t/a.doc.rtf", "/t/a.doc.doc"},     {"/t/doc.rtf", "/t/doc.doc"},
  };
  const Names kToRtf[] = {
      {"C:\\in\\report.doc", "C:\\in\\report_doc.rtf"},
      {"/in/report.docx", "/in/report_doc.rtf"},
      {"/in/README", "/in/README_doc.rtf"},
  };
  clsDOC2RTF converter;
  for (const Names& n : kToDocument) {
    converter.RTFFile(n.source);
    EXPECT_EQ(converter.DefaultDOCFile(), n.target) << n.source;
  }
  for (const Names& n : kToRtf) {
    converter.DOCFile(n.source);
    EXPECT_EQ(converter.DefaultRTFFile(), n.target) << n.source;
  }
}

// What a host learns of a result 1.
TEST(Doc2Rtf, SaysWhyItFailed) {
  struct Case {
    std::vector<std::string> fails;
    clsDOC2RTF::Failure failure;
    bool missing;
    std::string message;
  };
  const Case kCases[] = {
      {{"Create", "GetFileObject"}, clsDOC2RTF::Failure::kNoApplication, true,
       "the word processor is not installed"},
      {{"Open"}, clsDOC2RTF::Failure::kNotOpened, false, "Open failed"},
      {{"SaveAs"}, clsDOC2RTF::Failure::kNotSaved, false, "SaveAs failed"},
      {{}, clsDOC2RTF::Failure::kNone, false, ""},
  };
  for (const Case& c : kCases) {
    test::MemoryWorld world;
    ScriptedOffice office;
    world.env.office = &office;
    world.fs.WriteFile("/d/a.doc", "x");
    for (const std::string& member : c.fails) office.Fail(member);
    WithEnv<clsDOC2RTF> converter(world.env);
    converter.DOCFile("/d/a.doc");
    EXPECT_EQ(converter.DOC2RTF(), c.failure == clsDOC2RTF::Failure::kNone ? 0 : 1);
    EXPECT_EQ(converter.LastFailure(), c.failure) << c.message;
    EXPECT_EQ(converter.ApplicationMissing(), c.missing) << c.message;
    EXPECT_EQ(converter.LastFailureMessage(), c.message);
  }
}

}  // namespace
}  // namespace vok
