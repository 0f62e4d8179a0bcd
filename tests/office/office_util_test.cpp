#include "voktools/office_util.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "html/memory_world.h"
#include "office/office_calls.h"
#include "platform/library_folder.h"
#include "support/scripted_office.h"
#include "voktools/automation_error.h"
#include "voktools/factory.h"

namespace vok {
namespace {

using test::ScriptedOffice;
using L = std::vector<std::string>;

// Window services that say what they are asked into the office transcript.
class NotedWindows : public HeadlessWindowing {
 public:
  explicit NotedWindows(ScriptedOffice& office) : office_(office) {}
  std::optional<std::string> foreground;
  uint32_t frame = 0;  // what FindWindowByClass finds

  std::optional<std::string> ForegroundWindowTitle() override { return foreground; }
  bool BringToForeground(const std::string& title) override {
    office_.Note("BringToForeground(\"" + title + "\")");
    return false;
  }
  uint32_t FindWindowByClass(const std::string& window_class) override {
    office_.Note("FindWindowByClass(\"" + window_class + "\")");
    return frame;
  }
  bool PostMessage(uint32_t window, uint32_t message, uint64_t, int64_t) override {
    office_.Note("PostMessage(" + std::to_string(window) + ", " + std::to_string(message) + ")");
    return true;
  }

 private:
  ScriptedOffice& office_;
};

// What the scripted macro does when Run: deletes the marker file, leaves
// it, or leaves it and lets the instance die.
enum class Macro { kDeletes, kKeeps, kDies };

// One object's life against the scripted server: created, its steps
// ("PPT2XML" and the like on /w/deck.ppt or /w/book.xls; "XML2PPT -" with
// no XML file there), destroyed.
struct AddinRun {
  const char* name;
  bool workbook;
  bool user_running;
  std::vector<std::pair<std::string, int>> fails;
  std::string version;
  uint32_t frame;
  Macro macro;
  std::vector<std::string> steps;
  std::vector<int> results;
  L transcript;
  L running_after;
};

std::string Addin(const char* file) { return LibraryFolder() + "/" + file; }
L operator+(L a, const L& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
L Connect(const std::string& app, bool workbook) {
  return workbook ? L{app + ".Visible = true", app + ".Workbooks",
                      app + ".Workbooks.Open(\"" + Addin("quon.xls") + "\", Missing, true)"}
                  : L{app + ".Visible = true", app + ".Presentations",
                      app + ".Presentations.Open(\"" + Addin("quon.ppt") + "\", true)"};
}
const L kStarted = L{"GetRunning(PowerPoint.Application)  ! none",
                     "Create(PowerPoint.Application)"} +
                   Connect("app1", false) + L{"BringToForeground(\"*\")", "app1.Version"};
const L kExportPpt = {"app1.Presentations",
                      "app1.Presentations.Open(\"/w/deck.ppt\", false)",
                      "doc2.Saved = false",
                      "doc2.Save()",
                      "doc2.Close()",
                      "app1.Presentations",
                      "app1.Presentations.Open(\"/w/deck.ppt\", false)"};
const std::string kRunExport = "app1.Run(\"QUON.PPT!ExportPresentation\")";

const AddinRun kRuns[] = {
    {"StartsWhenNoneRunsAndExports", false, false, {}, "7.4", 0, Macro::kDeletes, {"PPT2XML"},
     {0}, kStarted + kExportPpt + L{kRunExport, "doc3.Close()", "doc1.Close()"}, {"app1"}},
    // The user's instance: no window brought back, no quit message even for
    // a known version.
    {"AttachesToTheUsersInstanceAndImports", false, true, {}, "9.0", 7, Macro::kDeletes,
     {"XML2PPT"}, {0},
     L{"GetRunning(PowerPoint.Application)"} + Connect("user", false) +
         L{"user.Version", "FindWindowByClass(\"PP9FrameClass\")", "user.Presentations",
           "user.Presentations.Open(\"/w/deck.ppt\")", "user.Run(\"QUON.PPT!ImportPresentation\")",
           "doc2.Save()", "doc2.Close()", "doc1.Close()"},
     {"user"}},
    {"OpensTheAddinByFileAndQuitsByMessage", false, false, {{"Create", 0}}, "8.0", 7,
     Macro::kDeletes, {},
     {},
     L{"GetRunning(PowerPoint.Application)  ! none", "Create(PowerPoint.Application)  ! fails",
       "GetFileObject(\"" + Addin("quon.ppt") + "\")", "doc1.Application", "app1.Visible = true",
       "BringToForeground(\"*\")", "app1.Version", "FindWindowByClass(\"PP97FrameClass\")",
       "doc1.Close()", "PostMessage(7, 18)"},
     {"app1"}},
    {"WorkbookIsSavedNotReopened", true, false, {}, "9.0", 3, Macro::kDeletes, {"XLS2XML"}, {0},
     L{"GetRunning(Excel.Application)  ! none", "Create(Excel.Application)"} +
         Connect("app1", true) +
         L{"BringToForeground(\"*\")", "app1.Version", "FindWindowByClass(\"XLMAIN\")",
           "app1.Workbooks", "app1.Workbooks.Open(\"/w/book.xls\", Missing, false)",
           "doc2.Saved = false", "doc2.Save()", "app1.Run(\"QUON.XLS!ExportWorkbook\")",
           "doc2.Close()", "doc1.Close()", "PostMessage(3, 18)"},
     {"app1"}},
    // Failures before the macro's turn are forgotten; from there on any
    // failure gives 1, and the wait ends when the macro cannot run or the
    // instance dies or the time is up.
    {"SaveFailureBeforeTheMacroForgotten", false, false, {{"Save", 1}}, "7.4", 0,
     Macro::kDeletes, {"PPT2XML"}, {0},
     kStarted + L{"app1.Presentations", "app1.Presentations.Open(\"/w/deck.ppt\", false)",
                  "doc2.Saved = false", "doc2.Save()  ! fails", "doc2.Close()",
                  "app1.Presentations", "app1.Presentations.Open(\"/w/deck.ppt\", false)",
                  "app1.Run(\"QUON.PPT!ExportPresentation\")", "doc3.Close()", "doc1.Close()"},
     {"app1"}},
    {"RunFailsEndsTheWait", false, false, {{"Run", 1}}, "7.4", 0, Macro::kKeeps, {"PPT2XML"},
     {1},
     kStarted + kExportPpt + L{kRunExport + "  ! fails", "doc3.Close()", "doc1.Close()"},
     {"app1"}},
    {"InstanceDiesDuringTheMacro", false, false, {}, "7.4", 0, Macro::kDies, {"PPT2XML"}, {1},
     kStarted + kExportPpt +
         L{kRunExport, "app1.Version  ! fails (gone)", "doc3.Close()  ! fails (gone)",
           "doc1.Close()  ! fails (gone)"},
     {}},
    {"MacroNeverDeletesTheMarker", false, false, {}, "7.4", 0, Macro::kKeeps, {"PPT2XML"}, {1},
     kStarted + kExportPpt + L{kRunExport, "app1.Version", "doc3.Close()", "doc1.Close()"},
     {"app1"}},
    // Nothing is opened without both files.
    {"MissingFilesOpenNothing", false, true, {}, "7.4", 0, Macro::kDeletes,
     {"PPT2XML /w/none.ppt", "XML2PPT -"}, {1, 1},
     L{"GetRunning(PowerPoint.Application)"} + Connect("user", false) +
         L{"user.Version", "doc1.Close()"},
     {"user"}},
    {"NoApplicationAtAll", false, false, {{"Create", 0}, {"GetFileObject", 0}}, "7.4", 0,
     Macro::kDeletes, {"PPT2XML", "XML2PPT"}, {1, 1},
     {"GetRunning(PowerPoint.Application)  ! none", "Create(PowerPoint.Application)  ! fails",
      "GetFileObject(\"" + Addin("quon.ppt") + "\")  ! fails"},
     {}},
};

// Consecutive equal lines as one: the wait asks Version as often as the
// clock allows.
L Collapsed(const L& lines) {
  L out;
  for (const std::string& line : lines) {
    if (out.empty() || out.back() != line) out.push_back(line);
  }
  return out;
}

class AddinUtilRun : public ::testing::TestWithParam<AddinRun> {
 protected:
  AddinUtilRun() {
    world_.env.office = &office_;
    world_.env.windowing = &windows_;
    office_.limit = std::chrono::milliseconds(600);
  }

  bool Exists(const std::string& path) {
    std::string bytes;
    return world_.fs.ReadFile(path, &bytes);
  }

  test::MemoryWorld world_;
  ScriptedOffice office_;
  NotedWindows windows_{office_};
};

TEST_P(AddinUtilRun, MakesTheCallsInOrder) {
  const AddinRun& run = GetParam();
  const std::string document = run.workbook ? "/w/book.xls" : "/w/deck.ppt";
  const std::string xml = run.workbook ? "/w/book_xls.xml" : "/w/deck_ppt.xml";
  const std::string marker = document + ".quon";
  const std::string prefix = run.workbook ? "XLS" : "PPT";
  world_.fs.WriteFile(document, "doc");
  world_.fs.WriteFile(xml, "old");
  office_.version = run.version;
  windows_.frame = run.frame;
  if (run.user_running) office_.StartUserInstance();
  for (const auto& [member, nth] : run.fails) office_.Fail(member, nth);
  bool marker_seen = false;
  office_.on_run = [&](const std::string&) {
    marker_seen = Exists(marker);
    if (run.macro == Macro::kDeletes) {
      ASSERT_TRUE(world_.fs.Remove(marker).ok());
    }
    if (run.macro == Macro::kDies) office_.Kill(office_.Running().back());
  };
  std::vector<int> results;
  {
    ScopedEnv scope(world_.env);
    ObjectRef object = CreateObject("VOKTools.cls" + prefix + "Util");
    for (const std::string& step : run.steps) {
      const std::string op = step.substr(0, step.find(' '));
      const bool exports = op.ends_with("XML");
      object->Let(prefix + "File", exports && step != op ? step.substr(op.size() + 1) : document);
      const std::string step_xml = object->Get("XMLFile").ToText();
      if (exports || step == op) {
        world_.fs.WriteFile(step_xml, "old");
      } else {
        (void)world_.fs.Remove(step_xml);
      }
      results.push_back(object->Call(op).ToInt32());
      EXPECT_FALSE(Exists(marker)) << step;
      // The export deletes an earlier XML file only once the document is
      // found.
      if (exports) {
        EXPECT_EQ(Exists(step_xml), step != op) << step;
      }
    }
  }
  if (run.results == std::vector<int>{0}) {
    EXPECT_TRUE(marker_seen);
  }
  EXPECT_EQ(results, run.results);
  EXPECT_EQ(Collapsed(office_.transcript()), run.transcript);
  EXPECT_EQ(office_.Running(), run.running_after);
}

INSTANTIATE_TEST_SUITE_P(All, AddinUtilRun, ::testing::ValuesIn(kRuns),
                         [](const auto& info) { return std::string(info.param.name); });

// The property set last wins; a name too short for the rule fails after
// XMLFile has taken it. The foreground title is cut to 1023 characters.
TEST(AddinUtil, NamesAndTitles) {
  test::MemoryWorld world;
  ScriptedOffice office;
  NotedWindows windows(office);
  world.env.office = &office;
  world.env.windowing = &windows;
  ScopedEnv scope(world.env);
  ObjectRef ppt = CreateObject("VOKTools.clsPPTUtil");
  const struct {
    const char* property;
    const char* value;
    const char* ppt;
    const char* xml;
  } kRows[] = {
      {"PPTFile", "C:\\w\\deck.ppt", "C:\\w\\deck.ppt", "C:\\w\\deck_ppt.xml"},
      {"XMLFile", "C:\\w\\deck_ppt.xml", "C:\\w\\deck.ppt", "C:\\w\\deck_ppt.xml"},
      {"PPTFile", "/w/deck", "/w/deck", "/w/deck_.xml"},
      {"XMLFile", "C:\\w\\deck.xml", "C:\\w\\.eck", "C:\\w\\deck.xml"},
      {"XMLFile", "/w/book_xlsx.xml", "/w/book_.lsx", "/w/book_xlsx.xml"},
  };
  for (const auto& row : kRows) {
    ppt->Let(row.property, row.value);
    EXPECT_EQ(ppt->Get("PPTFile").ToText(), row.ppt) << row.value;
    EXPECT_EQ(ppt->Get("XMLFile").ToText(), row.xml) << row.value;
  }
  try {
    ppt->Let("XMLFile", "ab.xml");
    ADD_FAILURE() << "a short name was taken";
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.number(), err::kInvalidCall);
  }
  EXPECT_EQ(ppt->Get("XMLFile").ToText(), "ab.xml");
  EXPECT_EQ(ppt->Get("PPTFile").ToText(), "ab");

  EXPECT_EQ(ForegroundWindowTitle(), "*");
  windows.foreground = std::string(2000, 't');
  EXPECT_EQ(ForegroundWindowTitle(), std::string(1023, 't'));
}

}  // namespace
}  // namespace vok
