// `voktools doc2rtf|rtf2doc` against the scripted automation server.
#include "office_command.h"

#include "addin_command.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "cli/child_process.h"
#include "json_text.h"
#include "platform/env.h"
#include "platform/office_automation.h"
#include "support/scratch_dir.h"
#include "support/scripted_office.h"

namespace vok::test {
namespace {

struct OfficeRun {
  const char* name;
  bool to_rtf;
  std::vector<std::string> files;  // below the scratch folder
  std::string target;              // --rtf / --doc, below it too
  bool force = false;
  std::vector<std::string> fails = {};     // members that fail every time
  std::vector<std::string> existing = {};  // files made first, besides the inputs
  int status = 0;
  std::string out = "";  // $D/ stands for the scratch folder
  std::string err = "";
  // Per file of the JSON run: its result and "reason" (empty: none).
  std::vector<std::pair<int, std::string>> json = {};
  int instances = 0;  // started by the run; each is quit by its end
};

const std::string kNoSuite =
    "not converted: no office suite is installed: the word processor is not installed; install "
    "one (Debian, Ubuntu: sudo apt-get install libreoffice-writer)";

const OfficeRun kRuns[] = {
    {"BatchOnOneInstance", true, {"a.doc", "b.docx"}, "", false, {}, {}, 0,
     "$D/a.doc: converted to $D/a_doc.rtf\n$D/b.docx: converted to $D/b_doc.rtf\n", "",
     {{0, ""}, {0, ""}}, 1},
    {"SingleFileWithTarget", false, {"a_DOC.rtf"}, "out.docx", false, {}, {}, 0,
     "$D/a_DOC.rtf: converted to $D/out.docx\n", "", {{0, ""}}, 1},
    {"BackUnderItsOwnName", false, {"a_DOC.rtf"}, "", false, {}, {}, 0,
     "$D/a_DOC.rtf: converted to $D/a.doc\n", "", {{0, ""}}, 1},
    {"MissingFileAmongOthers", true, {"a.doc", "none.doc", "b.docx"}, "", false, {}, {}, 1,
     "$D/a.doc: converted to $D/a_doc.rtf\n$D/b.docx: converted to $D/b_doc.rtf\n",
     "voktools: error: $D/none.doc: document does not exist: No such file or directory\n",
     {{0, ""}, {1, "no-source"}, {0, ""}}, 1},
    {"NoOfficeSuite", true, {"a.doc", "b.docx"}, "", false, {"Create", "GetFileObject"}, {}, 1, "",
     "voktools: error: $D/a.doc: " + kNoSuite + "\nvoktools: error: $D/b.docx: " + kNoSuite + "\n",
     {{1, "no-office-suite"}, {1, "no-office-suite"}}, 0},
    {"ExistingOutputRefused", true, {"a.doc"}, "", false, {}, {"a_doc.rtf"}, 73, "",
     "voktools: RTF file $D/a_doc.rtf already exists; not replaced (--force replaces it)\n",
     {{73, ""}}, 0},
    {"ForceDeletesWhenTheSaveFails", true, {"a.doc"}, "", true, {"SaveAs"}, {"a_doc.rtf"}, 1, "",
     "voktools: error: $D/a.doc: not converted: the office suite could not save it as "
     "$D/a_doc.rtf: SaveAs failed; the earlier $D/a_doc.rtf was deleted\n",
     {{1, "not-saved"}}, 1},
    {"NotOpened", false, {"a_DOC.rtf"}, "", false, {"Open"}, {}, 1, "",
     "voktools: error: $D/a_DOC.rtf: not converted: the office suite could not open it: Open "
     "failed\n",
     {{1, "not-opened"}}, 1},
    {"TwoInputsOneOutput", true, {"a.doc", "a.docx"}, "", false, {}, {}, 73,
     "$D/a.doc: converted to $D/a_doc.rtf\n",
     "voktools: $D/a_doc.rtf is also the RTF file of $D/a.doc in this run; not replaced, even "
     "with --force\n",
     {{0, ""}, {73, ""}}, 1},
    {"OutputIsTheInput", false, {"a_DOC.rtf"}, "a_DOC.rtf", true, {}, {}, 73, "",
     "voktools: $D/a_DOC.rtf: the document $D/a_DOC.rtf is the file itself; not converted\n",
     {{73, ""}}, 0},
    {"FolderAsInput", true, {"sub"}, "", false, {}, {"sub/"}, 1, "",
     "voktools: error: $D/sub: document cannot be read: not a regular file\n",
     {{1, ""}}, 0},
};

class OfficeCommand : public ::testing::TestWithParam<OfficeRun> {
 protected:
  struct Outcome {
    int status;
    std::string out, err;
    std::vector<std::string> transcript, running;
  };

  Outcome Run(const OfficeRun& run, bool json) {
    ScratchDir dir;
    for (const std::string& f : run.existing) {
      if (f.ends_with("/")) {
        std::filesystem::create_directory(dir / f);
      } else {
        WriteFile(dir / f, "old");
      }
    }
    cli::OfficeOptions options;
    for (const std::string& f : run.files) {
      if (f.find("none") == std::string::npos && !Exists(dir / f)) WriteFile(dir / f, f);
      options.files.push_back(dir / f);
    }
    if (!run.target.empty()) options.target = dir / run.target;
    options.force = run.force;

    ScriptedOffice office;
    for (const std::string& m : run.fails) office.Fail(m);
    office.on_save = [](const std::string& target, const std::string& source) {
      WriteFile(target, "from " + source);
    };
    Env env = Env::Default();
    env.office = &office;
    ScopedEnv scope(env);
    std::ostringstream out, err;
    cli::Reporter reporter({.json = json}, out, err, false);
    Outcome o{run.to_rtf ? cli::RunDoc2Rtf(options, reporter) : cli::RunRtf2Doc(options, reporter),
              out.str(), err.str(), office.transcript(), office.Running()};
    for (std::string* text : {&o.out, &o.err}) {
      for (size_t at; (at = text->find(dir.path())) != std::string::npos;) {
        text->replace(at, dir.path().size(), "$D/");
      }
    }
    return o;
  }
};

TEST_P(OfficeCommand, ReportsEachFile) {
  const OfficeRun& run = GetParam();
  const Outcome text = Run(run, false);
  EXPECT_EQ(text.status, run.status);
  EXPECT_EQ(text.out, run.out);
  EXPECT_EQ(text.err, run.err);
  EXPECT_EQ(std::count_if(text.transcript.begin(), text.transcript.end(),
                          [](const std::string& l) {
                            return l.starts_with("Create(") && !l.ends_with("! fails");
                          }),
            run.instances);
  EXPECT_EQ(text.running, std::vector<std::string>{});

  const Outcome json = Run(run, true);
  EXPECT_EQ(json.status, run.status);
  std::vector<std::pair<int, std::string>> got;
  for (const cli::Json& j : JsonLines(json.out)) {
    got.emplace_back(j["result"].get<int>(), j.value("reason", ""));
    EXPECT_EQ(j["errors"].empty(), j["result"] == 0) << j;
    EXPECT_TRUE(j["files"].contains("DOCFile") && j["files"].contains("RTFFile")) << j;
  }
  EXPECT_EQ(got, run.json);
}

INSTANTIATE_TEST_SUITE_P(All, OfficeCommand, ::testing::ValuesIn(kRuns),
                         [](const auto& info) { return std::string(info.param.name); });

// The batch's instance that cannot be quit is a warning of the last file;
// --strict fails the run for it.
TEST(OfficeCommandBatch, InstanceNotQuitIsAWarning) {
  ScratchDir dir;
  WriteFile(dir / "a.doc", "a");
  WriteFile(dir / "b.doc", "b");
  ScriptedOffice office;
  office.Fail("Quit");
  Env env = Env::Default();
  env.office = &office;
  ScopedEnv scope(env);
  std::ostringstream out, err;
  cli::Reporter reporter({.json = true, .strict = true}, out, err, false);
  EXPECT_EQ(cli::RunDoc2Rtf({{dir / "a.doc", dir / "b.doc"}}, reporter), cli::kExitDataErr);
  const std::vector<cli::Json> reports = JsonLines(out.str());
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_TRUE(reports[0]["warnings"].empty());
  EXPECT_EQ(reports[1]["warnings"],
            cli::Json::array({"the office suite instance of this run could not be quit: Quit failed"}));
}

// The platform without an office suite: the message says what to install.
TEST(OfficeCommandBatch, WithoutOfficeSuite) {
  ScratchDir dir;
  WriteFile(dir / "a.rtf", "{\\rtf1}");
  NoOfficeAutomation none;
  Env env = Env::Default();
  env.office = &none;
  ScopedEnv scope(env);
  std::ostringstream out, err;
  cli::Reporter reporter({}, out, err, false);
  EXPECT_EQ(cli::RunRtf2Doc({{dir / "a.rtf"}}, reporter), 1);
  EXPECT_NE(err.str().find("no office suite is installed"), std::string::npos) << err.str();
  // Nor for workbooks and presentations.
  WriteFile(dir / "book.xls", "book");
  EXPECT_EQ(cli::RunAddinConversion(cli::AddinOperation::kXlsToXml, {{dir / "book.xls"}, "", false}, reporter),
            1);
  EXPECT_NE(err.str().find("could not be reached: No office suite"), std::string::npos) << err.str();
}

}  // namespace
}  // namespace vok::test
