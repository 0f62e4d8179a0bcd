// The office objects on the real suite: conversions through the calls a
// converter makes, and what happens when the suite dies, hangs or refuses.
#include "platform/libreoffice_automation.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "platform/env.h"
#include "support/scratch_dir.h"
#include "voktools/doc2rtf.h"
#include "voktools/office_util.h"
#include "voktools/automation_error.h"
#include "voktools/dispatch.h"

namespace vok {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::ScratchDir;

// The words of a plain-text export: layout (indents, line breaks) may change
// in a round trip, and symbol-font characters come back as their letters.
std::string Words(std::string utf8) {
  if (utf8.starts_with("\xEF\xBB\xBF")) utf8.erase(0, 3);
  std::string words;
  bool space = false;
  for (size_t i = 0; i < utf8.size(); ++i) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    // U+F020..U+F0FF (EF 80 A0 .. EF 83 BF): a symbol font's letter.
    if (c == 0xEF && i + 2 < utf8.size() && (static_cast<unsigned char>(utf8[i + 1]) & 0xFC) == 0x80) {
      const int code = ((static_cast<unsigned char>(utf8[i + 1]) & 0x3F) << 6) |
                       (static_cast<unsigned char>(utf8[i + 2]) & 0x3F);
      if (code >= 0x20 && code < 0x80) {
        if (space && !words.empty()) words += ' ';
        space = false;
        words += static_cast<char>(code);
        i += 2;
        continue;
      }
    }
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f') {
      space = true;
      continue;
    }
    if (space && !words.empty()) words += ' ';
    space = false;
    words += static_cast<char>(c);
  }
  return words;
}

bool Ended(pid_t pid) { return pid > 0 && ::kill(pid, 0) != 0 && errno == ESRCH; }

class OfficeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    settings_ = OfficeSettings::FromEnvironment();
    if (::access((settings_.program_folder + "/libmergedlo.so").c_str(), R_OK) != 0) {
      GTEST_SKIP() << "LibreOffice is not installed (scripts/setup installs it)";
    }
    settings_.runtime_folder = scratch_.path();
    settings_.runtime_folder.pop_back();
  }

  ObjectRef NewApplication() {
    LibreOfficeAutomation office(settings_);
    ObjectRef application;
    const Status s = office.Create("Word.Application", &application);
    EXPECT_TRUE(s.ok()) << s.message();
    return application;
  }

  // Opens source as a converter does, saves it as target in format, closes it.
  static void Convert(Dispatch& application, const std::string& source, const std::string& target,
                      int16_t format) {
    application.Let("Visible", true);
    ObjectRef document = application.Get("Documents")
                             .ToObject()
                             ->Call("Open", {source, false, true, false})
                             .ToObject();
    document->Call("SaveAs", {target, format});
    document->Call("Close", {int16_t{0}});
  }

  ScratchDir scratch_;
  OfficeSettings settings_;
};

// Every corpus document goes to .doc and .docx and back to RTF on one
// instance; its text comes back unchanged, and quitting leaves nothing.
TEST_F(OfficeTest, CorpusRoundTripsKeepTheTextOnOneInstance) {
  std::vector<fs::path> sources;
  for (const auto& entry : fs::directory_iterator(VOK_CORPUS_DIR "/rtf")) {
    if (entry.path().extension() == ".rtf") sources.push_back(entry.path());
  }
  std::sort(sources.begin(), sources.end());
  ASSERT_GE(sources.size(), 5u);
  ObjectRef application = NewApplication();
  ASSERT_TRUE(application);
  const pid_t worker = OfficeWorkerProcess(*application);
  const auto started = std::chrono::steady_clock::now();
  for (const fs::path& source : sources) {
    SCOPED_TRACE(source.filename().string());
    const std::string stem = scratch_ / source.stem().string();
    Convert(*application, source, stem + ".txt", 2);
    const std::string text = Words(ReadFile(stem + ".txt"));
    // Each file is written in the format its name and FileFormat ask for.
    for (const auto& [kind, magic] : {std::pair{".doc", "\xD0\xCF\x11\xE0"}, {".docx", "PK"}}) {
      SCOPED_TRACE(kind);
      Convert(*application, source, stem + kind, 0);
      EXPECT_TRUE(ReadFile(stem + kind).starts_with(magic));
      Convert(*application, stem + kind, stem + "_back.rtf", 6);
      EXPECT_TRUE(ReadFile(stem + "_back.rtf").starts_with("{\\rtf"));
      Convert(*application, stem + "_back.rtf", stem + "_back.txt", 2);
      EXPECT_EQ(Words(ReadFile(stem + "_back.txt")), text);
    }
  }
  EXPECT_EQ(OfficeWorkerProcess(*application), worker);
  application->Call("Quit", {int16_t{0}});
  EXPECT_TRUE(Ended(worker));
  // NAME.txt, .doc, .docx, _back.rtf and _back.txt of each, and nothing else.
  EXPECT_EQ(scratch_.Entries().size(), sources.size() * 5) << "an instance folder is left";
  RecordProperty("seconds", std::to_string(std::chrono::duration<double>(
                                               std::chrono::steady_clock::now() - started)
                                               .count()));
}

// A worker killed in a batch fails the call in flight and every later one
// on that instance; a new instance converts again. A stopped (hanging)
// worker fails its call at the time limit and is ended.
TEST_F(OfficeTest, DeadOrHangingInstanceFailsItsCallsAndANewOneWorks) {
  const std::string source = VOK_CORPUS_DIR "/rtf/rtfpipe-Issue46.rtf";
  for (const int signal : {SIGKILL, SIGSTOP}) {
    SCOPED_TRACE(signal);
    settings_.time_limit = std::chrono::seconds(2);
    ObjectRef application = NewApplication();
    ASSERT_TRUE(application);
    Convert(*application, source, scratch_ / "first.doc", 0);
    const pid_t worker = OfficeWorkerProcess(*application);
    ::kill(worker, signal);
    const auto before = std::chrono::steady_clock::now();
    for (int call = 0; call < 2; ++call) {
      try {
        Convert(*application, source, scratch_ / "second.doc", 0);
        ADD_FAILURE() << "the call succeeded";
      } catch (const AutomationError& e) {
        EXPECT_EQ(e.number(), office_err::kServerUnavailable) << e.description();
      }
    }
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(4));
    EXPECT_TRUE(Ended(worker));
    settings_.time_limit = std::chrono::seconds(120);
    ObjectRef next = NewApplication();
    Convert(*next, source, scratch_ / "third.doc", 0);
    next->Call("Quit", {int16_t{0}});
  }
}

// Damaged documents fail to open at once, and the instance goes on.
TEST_F(OfficeTest, DamagedDocumentsFailToOpen) {
  ObjectRef application = NewApplication();
  ASSERT_TRUE(application);
  const std::string good = VOK_CORPUS_DIR "/rtf/rtfpipe-Issue46.rtf";
  Convert(*application, good, scratch_ / "whole.doc", 0);
  Convert(*application, good, scratch_ / "whole.docx", 0);
  for (const char* kind : {".doc", ".docx"}) {
    const std::string whole = ReadFile(scratch_ / (std::string("whole") + kind));
    test::WriteFile(scratch_ / (std::string("cut") + kind), whole.substr(0, whole.size() / 3));
  }
  ObjectRef documents = application->Get("Documents").ToObject();
  for (const std::string name : {"cut.doc", "cut.docx", "missing.doc"}) {
    SCOPED_TRACE(name);
    const auto before = std::chrono::steady_clock::now();
    try {
      documents->Call("Open", {scratch_ / name, false, true, false});
      ADD_FAILURE() << "opened";
    } catch (const AutomationError& e) {
      EXPECT_EQ(e.number(), office_err::kCommandFailed) << e.description();
    }
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(10));
  }
  Convert(*application, good, scratch_ / "after.rtf", 6);
  application->Call("Quit", {int16_t{0}});
}

// The running instance: started once, attached to, described, stopped.
TEST_F(OfficeTest, RunningInstanceLivesFromStartToStop) {
  LibreOfficeAutomation office(settings_);
  ObjectRef none;
  EXPECT_EQ(office.GetRunning("Word.Application", &none).code(), ENOENT);
  OfficeInstanceInfo info;
  ASSERT_TRUE(office.StartShared(&info).ok());
  EXPECT_EQ(office.StartShared(&info).code(), EEXIST);
  {
    ObjectRef application;
    ASSERT_TRUE(office.GetRunning("word.application", &application).ok());
    EXPECT_FALSE(application->Get("Version").ToText().empty());
    Convert(*application, VOK_CORPUS_DIR "/rtf/rtfpipe-Issue46.rtf", scratch_ / "a.doc", 0);
    EXPECT_EQ(OfficeWorkerProcess(*application), info.pid);
  }
  // A conversion's own instance ends with it; the running one stays.
  ObjectRef document;
  ASSERT_TRUE(office.GetFileObject(scratch_ / "a.doc", &document).ok());
  const pid_t own = OfficeWorkerProcess(*document);
  EXPECT_NE(own, info.pid);
  document.reset();
  EXPECT_TRUE(Ended(own));
  ASSERT_TRUE(office.SharedInfo(&info).ok());
  ASSERT_TRUE(office.StopShared().ok());
  EXPECT_TRUE(Ended(info.pid));
  EXPECT_FALSE(fs::exists(office.SharedFolder()));
  EXPECT_EQ(office.StopShared().code(), ENOENT);
}

// A running instance that hangs is ended by a stop all the same; one that
// died leaves a folder that a stop clears.
TEST_F(OfficeTest, StopEndsAHangingInstanceAndClearsADeadOne) {
  LibreOfficeAutomation office(settings_);
  for (const int signal : {SIGSTOP, SIGKILL}) {
    SCOPED_TRACE(signal);
    OfficeInstanceInfo info;
    ASSERT_TRUE(office.StartShared(&info).ok());
    ::kill(info.pid, signal);
    if (signal == SIGKILL) {
      ASSERT_EQ(::waitpid(info.pid, nullptr, 0), info.pid);  // our child
    }
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(office.StopShared().code(), signal == SIGKILL ? ENOENT : 0);
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(15));
    EXPECT_TRUE(Ended(info.pid));
    EXPECT_FALSE(fs::exists(office.SharedFolder()));
  }
}

// A batch of conversions starts one instance, which the later conversions
// find running, and which ends with the batch.
TEST_F(OfficeTest, BatchRunsOnTheInstanceItsFirstConversionStarted) {
  LibreOfficeAutomation office(settings_);
  Env env = CurrentEnv();
  env.office = &office;
  ScopedEnv scoped(env);
  clsDOC2RTF converter;
  converter.StartBatch();
  pid_t first = 0;
  for (const char* name : {"rtfpipe-Issue46.rtf", "rtfjs-wmf.rtf"}) {
    converter.RTFFile(std::string(VOK_CORPUS_DIR "/rtf/") + name);
    converter.DOCFile(scratch_ / (std::string(name) + ".doc"));
    EXPECT_EQ(converter.RTF2DOC(), 0) << name;
    ObjectRef running;
    ASSERT_TRUE(office.GetRunning("Word.Application", &running).ok());
    if (first == 0) first = OfficeWorkerProcess(*running);
    EXPECT_EQ(OfficeWorkerProcess(*running), first);
  }
  converter.EndBatch();
  ObjectRef none;
  EXPECT_EQ(office.GetRunning("Word.Application", &none).code(), ENOENT);
  EXPECT_TRUE(Ended(first));
}

// Presentations and workbooks of the corpus through their add-in macros, on
// one instance per converter: the export of an untranslated document
// imported back is the same export; a translation of every plain unit comes
// back as the document's text.
TEST_F(OfficeTest, PresentationsAndWorkbooksRoundTripThroughTheirMacros) {
  LibreOfficeAutomation office(settings_);
  Env env = Env::Default();
  env.office = &office;
  ScopedEnv scope(env);
  const std::regex plain_unit(R"re((<source xml:space="preserve">)([^<]+)(</source>))re");
  for (const bool workbooks : {false, true}) {
    std::unique_ptr<OfficeAddinConverter> converter;
    if (workbooks) {
      converter = std::make_unique<clsXLSUtil>();
    } else {
      converter = std::make_unique<clsPPTUtil>();
    }
    ASSERT_TRUE(converter->Connected()) << converter->ConnectionFailure();
    const std::string prefix = workbooks ? "XLS" : "PPT";
    const std::vector<std::string> files =
        workbooks ? std::vector<std::string>{"poi-SampleSS.xls", "poi-SampleSS.xlsx",
                                             "poi-SampleSS.ods"}
                  : std::vector<std::string>{"poi-SampleShow.ppt", "poi-SampleShow.pptx",
                                             "poi-WithComments.ppt"};
    for (const std::string& name : files) {
      SCOPED_TRACE(name);
      const std::string document = scratch_ / name;
      test::WriteFile(document, ReadFile(VOK_CORPUS_DIR "/office/" + name));
      converter->Let(prefix + "File", document);
      const std::string xml = converter->Get("XMLFile").ToText();
      auto exported = [&] {
        EXPECT_EQ(converter->Call(prefix + "2XML").ToInt32(), 0) << converter->LastFailureMessage();
        return ReadFile(xml);
      };
      const std::string first = exported();
      EXPECT_NE(first.find("<trans-unit"), std::string::npos);
      EXPECT_EQ(converter->Call("XML2" + prefix).ToInt32(), 0) << converter->LastFailureMessage();
      EXPECT_EQ(exported(), first);
      // Every unit without inline elements translated.
      test::WriteFile(xml, std::regex_replace(first, plain_unit, "$1$2$3<target>T $2</target>"));
      EXPECT_EQ(converter->Call("XML2" + prefix).ToInt32(), 0) << converter->LastFailureMessage();
      const std::string translated = exported();
      EXPECT_EQ(translated, std::regex_replace(first, plain_unit, "$1T $2$3"));
      EXPECT_FALSE(test::Exists(document + ".quon"));
    }
  }
}

TEST_F(OfficeTest, MissingSuiteSaysWhatToInstall) {
  settings_.program_folder = scratch_ / "nowhere";
  LibreOfficeAutomation office(settings_);
  ObjectRef application;
  const Status s = office.Create("Word.Application", &application);
  EXPECT_EQ(s.code(), ENOENT);
  EXPECT_NE(s.message().find("libreoffice-writer"), std::string::npos) << s.message();
}

}  // namespace
}  // namespace vok
