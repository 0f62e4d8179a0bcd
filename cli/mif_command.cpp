#include "mif_command.h"

#include <algorithm>
#include <array>
#include <functional>
#include <optional>

#include "file_guard.h"
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

  // A step turned away before the class saw it: one failure, its message
  // on standard error.
  void Refused(const char* operation, const std::string& file, std::string message) {
    result += 1;
    Json step = Json::object();
    step["operation"] = operation;
    step["file"] = TextToJson(file);
    step["result"] = kExitCantCreate;
    report.extra["steps"].push_back(std::move(step));
    if (!lines.empty()) lines += '\n';
    lines += file + ": refused";
    report.refusals.push_back(std::move(message));
  }
};

// The object file the class derives from a MIF file: its name up to the last
// dot, then "obj".
std::string DerivedObjFile(const std::string& mif) {
  const size_t dot = mif.rfind('.');
  return dot == std::string::npos ? mif + ".obj" : mif.substr(0, dot + 1) + "obj";
}

// The batch files: as given, otherwise beside the first MIF file that can be
// read (in the current folder for a bare file name, rather than the class's
// "book.mifQUON_ix.mif").
std::array<std::string, 3> BatchFiles(const MifOptions& options) {
  std::string first;
  for (const std::string& file : options.files) {
    if (!NotRegularInput(file) && clsCommon().FileExists(file)) {
      first = file;
      break;
    }
  }
  if (first.empty() && !options.files.empty()) first = options.files.front();
  const std::string folder = clsCommon().strParseFileName(first, 0);
  auto name = [&folder](const std::string& given, const char* default_name) {
    return given.empty() ? folder + default_name : given;
  };
  return {name(options.index_file, "QUON_ix.mif"), name(options.xref_file, "QUON_xr.mif"),
          name(options.var_file, "QUON_va.mif")};
}

// Why the batch files of an extraction may not be written: each one that
// exists (unless --force) or is not a regular file, and two options naming
// the same file.
std::vector<std::string> RefuseBatchFiles(const std::array<std::string, 3>& files, bool force) {
  std::vector<std::string> refusals;
  const RunOutputs none;
  for (size_t i = 0; i < files.size(); ++i) {
    bool repeated = false;
    for (size_t j = 0; j < i; ++j) {
      if (SameFile(files[i], files[j])) {
        refusals.push_back(files[i] +
                           " is named for two batch files; not written, even with --force");
        repeated = true;
        break;
      }
    }
    if (repeated) continue;
    if (std::optional<Refusal> r =
            RefuseOutput(files[i], {.force = force, .what = "batch file"}, none)) {
      refusals.push_back(std::move(r->message));
    }
  }
  return refusals;
}

void Finish(Batch& b, Reporter& reporter) {
  clsMIFUtilities& m = b.mif;
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
}

int Run(Operation op, const MifOptions& options, Reporter& reporter) {
  Batch b;
  b.report.extra = Json::object();
  b.report.extra["steps"] = Json::array();
  clsMIFUtilities& m = b.mif;
  m.Progress().Connect([&reporter](int16_t& percent) { reporter.Progress(percent); });
  if (op == Operation::kExtract || op == Operation::kMerge) {
    m.StartBatch();
    const std::array<std::string, 3> batch = BatchFiles(options);
    m.IndexFile(batch[0]);
    m.XrefFile(batch[1]);
    m.VarFile(batch[2]);
    if (options.split) m.SplitOptions(*options.split);
    if (op == Operation::kExtract) {
      // Extraction only reads the MIF files: a refused batch is refused whole.
      b.report.refusals = RefuseBatchFiles(batch, options.force);
      if (!b.report.refusals.empty()) {
        b.result = kExitCantCreate;
        Finish(b, reporter);
        return reporter.ExitStatus();
      }
    }
  }
  RunOutputs outputs;
  for (const std::string& file : options.files) {
    reporter.Begin(file);
    m.MIFFile(file);
    if (std::optional<std::string> why = NotRegularInput(file)) {
      m.ErrorList()->Add(Variant("Error reading : " + file + "\r\n" + *why));
      b.Step(op == Operation::kExtract         ? "Extract"
             : op == Operation::kMerge         ? "Merge"
             : op == Operation::kRemoveObjects ? "RemoveObjects"
                                               : "InsertObjects",
             file, 1, "");
      continue;
    }
    const std::string obj = options.obj_file.empty() ? DerivedObjFile(file) : options.obj_file;
    if (op == Operation::kRemoveObjects) {
      if (std::optional<Refusal> r = RefuseOutput(
              obj, {.force = options.force, .foreign = ObjectKind::kRtf, .what = "object file"},
              outputs)) {
        m.ObjFile(obj);
        b.Refused("RemoveObjects", file, std::move(r->message));
        continue;
      }
    }
    if (op == Operation::kInsertObjects) {
      if (std::optional<std::string> why = NotRegularInput(obj)) {
        m.ErrorList()->Add(Variant("Error reading : " + obj + "\r\n" + *why));
        b.Step("InsertObjects", file, 1, "");
        continue;
      }
    }
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
        outputs.Claim(m.ObjFile(), file);
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
    for (const auto& [file, tag] : m.AmbiguousTags()) {
      b.report.warnings.push_back(file + ": the tag `" + tag +
                                  "' stands for more than one entry; a merge gives them all "
                                  "the first one's translation");
    }
  }
  Finish(b, reporter);
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
