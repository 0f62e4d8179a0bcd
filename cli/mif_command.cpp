#include "mif_command.h"

#include <algorithm>
#include <functional>

#include "voktools/common.h"
#include "voktools/mif_utilities.h"

namespace vok::cli {

namespace {

enum class Operation { kExtract, kMerge, kRemoveObjects, kInsertObjects };

struct Batch {
  clsMIFUtilities mif;
  FileReport report;
  int result = 0;
  std::string lines;  // the text-mode summary, one line per step

  void Step(const char* operation, const std::string& file, int16_t step_result,
            const std::string& done) {
    result += step_result;
    Json step = Json::object();
    step["operation"] = operation;
    if (!file.empty()) step["file"] = TextToJson(file);
    step["result"] = step_result;
    report.extra["steps"].push_back(std::move(step));
    if (!lines.empty()) lines += '\n';
    lines += (file.empty() ? std::string(operation) : file) + ": " +
             (step_result == 0 ? done : "failed (" + std::to_string(step_result) + ")");
  }
};

int Run(Operation op, const MifOptions& options, Reporter& reporter) {
  Batch b;
  b.report.extra = Json::object();
  b.report.extra["steps"] = Json::array();
  clsMIFUtilities& m = b.mif;
  m.Progress().Connect([&reporter](int16_t& percent) { reporter.Progress(percent); });
  if (op == Operation::kExtract || op == Operation::kMerge) {
    m.StartBatch();
    // The class puts the batch files beside the first MIF file; for a bare
    // file name that is the current folder (rather than "book.mifQUON_ix.mif").
    const bool bare = !options.files.empty() &&
                      clsCommon().strParseFileName(options.files.front(), 0).empty();
    auto name = [bare](const std::string& given, const char* default_name) {
      return given.empty() && bare ? std::string(default_name) : given;
    };
    m.IndexFile(name(options.index_file, "QUON_ix.mif"));
    m.XrefFile(name(options.xref_file, "QUON_xr.mif"));
    m.VarFile(name(options.var_file, "QUON_va.mif"));
    if (options.split) m.SplitOptions(*options.split);
  }
  for (const std::string& file : options.files) {
    reporter.Begin(file);
    m.MIFFile(file);
    int16_t result = 0;
    switch (op) {
      case Operation::kExtract:
        b.Step("Extract", file, m.Extract(), "extracted");
        break;
      case Operation::kMerge:
        b.Step("Merge", file, m.Merge(), "merged");
        break;
      case Operation::kRemoveObjects:
        m.ObjFile(options.obj_file);
        result = m.RemoveObjects();  // derives ObjFile
        b.Step("RemoveObjects", file, result, "insets moved to " + m.ObjFile());
        break;
      case Operation::kInsertObjects:
        m.ObjFile(options.obj_file);
        result = m.InsertObjects();
        b.Step("InsertObjects", file, result, "insets put back from " + m.ObjFile());
        break;
    }
  }
  if (op == Operation::kExtract) {
    reporter.Begin("EndBatch");
    const int16_t result = m.EndBatch();
    b.Step("EndBatch", "", result,
           "wrote " + m.IndexFile() + ", " + m.XrefFile() + ", " + m.VarFile());
    // Not a failure, but a merge cannot keep such entries apart.
    b.report.extra["warnings"] = Json::array();
    for (const std::string& tag : m.AmbiguousTags()) {
      const std::string warning = "warning: the tag `" + tag +
                                  "' stands for more than one entry; a merge gives them all "
                                  "the first one's translation";
      b.lines += "\n" + warning;
      b.report.extra["warnings"].push_back(TextToJson(warning));
    }
  }
  b.report.result = std::min(b.result, 0x7fff);
  b.report.errors = m.ErrorList()->Texts();
  b.report.files = {{"MIFFile", m.MIFFile()},
                    {"ObjFile", m.ObjFile()},
                    {"IndexFile", m.IndexFile()},
                    {"XrefFile", m.XrefFile()},
                    {"VarFile", m.VarFile()}};
  b.report.numbers = {{"SplitOptions", m.SplitOptions()}};
  b.report.summary = b.lines;
  reporter.Report(b.report);
  return reporter.ExitStatus();
}

}  // namespace

int RunMifExtract(const MifOptions& options, Reporter& reporter) {
  return Run(Operation::kExtract, options, reporter);
}
int RunMifMerge(const MifOptions& options, Reporter& reporter) {
  return Run(Operation::kMerge, options, reporter);
}
int RunMifRemoveObjects(const MifOptions& options, Reporter& reporter) {
  return Run(Operation::kRemoveObjects, options, reporter);
}
int RunMifInsertObjects(const MifOptions& options, Reporter& reporter) {
  return Run(Operation::kInsertObjects, options, reporter);
}

}  // namespace vok::cli
