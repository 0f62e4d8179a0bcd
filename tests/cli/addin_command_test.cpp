// `voktools ppt2xml|xml2ppt|xls2xml|xml2xls` against the scripted automation
// server, whose macros write the XML file (export) or read it (import).
#include "addin_command.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <sstream>
#include <string>
#include <vector>

#include "platform/env.h"
#include "support/scratch_dir.h"
#include "support/scripted_office.h"

namespace vok::test {
namespace {

using cli::AddinOperation;

struct Step {
  AddinOperation op;
  std::vector<std::string> files;  // below the scratch folder
  std::string xml;                 // --xml, below it too
  bool force;
  int status;
  std::string err;  // a part of standard error
};

// One run of steps on deck.ppt: what the user sees, and which files are
// there afterwards.
TEST(AddinCommand, ExportsAndImportsWithTheirRefusals) {
  ScratchDir dir;
  WriteFile(dir / "deck.ppt", "deck");
  WriteFile(dir / "ro.ppt", "read-only");
  ::chmod((dir / "ro.ppt").c_str(), 0444);
  ScriptedOffice office;
  std::vector<std::string> imported;
  office.on_run = [&](const std::string& macro) {
    for (const char* name : {"deck", "ro"}) {
      const std::string doc = dir / (std::string(name) + ".ppt");
      if (!Exists(doc + ".quon")) continue;
      if (macro.ends_with("ExportPresentation")) WriteFile(dir / (std::string(name) + "_ppt.xml"), "xliff");
      if (macro.ends_with("ImportPresentation")) imported.push_back(ReadFile(dir / (std::string(name) + "_ppt.xml")));
      std::filesystem::remove(doc + ".quon");
    }
  };
  Env env = Env::Default();
  env.office = &office;
  ScopedEnv scope(env);
  const Step kSteps[] = {
      {AddinOperation::kPptToXml, {"deck.ppt"}, "", false, 0, ""},
      {AddinOperation::kPptToXml, {"deck.ppt"}, "", false, 73, "already exists"},
      {AddinOperation::kPptToXml, {"deck.ppt"}, "", true, 0, ""},
      // --xml: the macro's own file would be replaced; moved to --xml after
      // the export, copied beside the document for the import and removed
      // again.
      {AddinOperation::kPptToXml, {"deck.ppt"}, "out.xml", false, 73, "deck_ppt.xml already exists"},
      {AddinOperation::kPptToXml, {"deck.ppt"}, "out.xml", true, 0, ""},
      {AddinOperation::kXmlToPpt, {"deck.ppt"}, "out.xml", false, 0, ""},
      {AddinOperation::kXmlToPpt, {"ro.ppt"}, "out.xml", false, 73, "read-only"},
      {AddinOperation::kXmlToPpt, {"none.ppt"}, "", false, 1, "does not exist"},
      {AddinOperation::kPptToXml, {"."}, "", false, 1, "not a regular file"},
  };
  for (const Step& step : kSteps) {
    std::vector<std::string> files;
    for (const std::string& f : step.files) files.push_back(dir / f);
    std::ostringstream out, err;
    cli::Reporter reporter({}, out, err, false);
    const cli::AddinOptions options{files, step.xml.empty() ? "" : dir / step.xml, step.force};
    SCOPED_TRACE(step.files[0] + " " + step.xml);
    EXPECT_EQ(cli::RunAddinConversion(step.op, options, reporter), step.status) << err.str();
    EXPECT_NE(err.str().find(step.err), std::string::npos) << err.str();
  }
  EXPECT_EQ(imported, std::vector<std::string>{"xliff"});
  EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"deck.ppt", "out.xml", "ro.ppt"}));
}

}  // namespace
}  // namespace vok::test
