#include "mif_command.h"

#include <algorithm>
#include <array>
#include <functional>
#include <iostream>
#include <optional>
#include <string_view>

#include "file_guard.h"
#include "platform/env.h"
#include "platform/file_system.h"
#include "voktools/common.h"
#include "voktools/mif_utilities.h"

namespace vok::cli {

namespace {

enum class Operation { kExtract, kMerge, kRemoveObjects, kInsertObjects };

// An entry of the error list as the command prints it: naming the file it
// is about and why, where the class's text does not.
std::string Explained(const std::string& entry, const clsMIFUtilities& m, bool inserting) {
  auto with = [](const std::string& text, const std::string& file, const std::string& why) {
    return text + ": " + file + (why.empty() ? "" : ": " + why);
  };
  auto why_not_written = [](const std::string& file) -> std::string {
    if (std::optional<std::string> why = NotRegularInput(file)) return *why;
    FileInfo info;
    if (CurrentEnv().fs->GetInfo(file, &info).ok() && info.read_only) return "read-only";
    return WhyNoFileBeside(file);
  };
  if (entry == "Unable to open index file") {
    return with(entry, m.IndexFile(), why_not_written(m.IndexFile()));
  }
  if (entry == "Unable to open cross-reference file") {
    return with(entry, m.XrefFile(), why_not_written(m.XrefFile()));
  }
  if (entry == "Unable to open variables file") {
    return with(entry, m.VarFile(), why_not_written(m.VarFile()));
  }
  if (entry == "MIF file not found") return with(entry, m.MIFFile(), "");
  if (entry == "Unable to open MIF file") {
    return with(entry, m.MIFFile(), WhyUnreadable(m.MIFFile()));
  }
  if (entry == "Unable to create temporary file") {
    return with(entry, m.MIFFile(), WhyNoFileBeside(m.MIFFile()));
  }
  if (entry == "Object file not found") return with(entry, m.ObjFile(), "");
  if (entry == "Unable to open Object file") {
    return with(entry, m.ObjFile(),
                inserting ? WhyUnreadable(m.ObjFile()) : why_not_written(m.ObjFile()));
  }
  if (entry == "Unable to delete previous object file") {
    const std::string why = why_not_written(m.ObjFile());
    return with(entry, m.ObjFile(),
                why == "read-only" ? why
                                   : "the MIF file holds the placeholders of an earlier removal, "
                                     "and the object file the only copy of their insets");
  }
  if (entry.starts_with("Unable to open translated ")) {
    const size_t colon = entry.find(" : ");
    const std::string file = colon == std::string::npos ? "" : entry.substr(colon + 3);
    const std::string why = file.empty() ? "" : WhyUnreadable(file);
    return why.empty() ? entry : entry + ": " + why;
  }
  // "Error reading : FILE" CR LF "why", and the like: one line.
  std::string text = entry;
  for (size_t p; (p = text.find("\r\n")) != std::string::npos;) text.replace(p, 2, ": ");
  return text;
}

struct Batch {
  clsMIFUtilities mif;
  FileReport report;
  int result = 0;
  std::string lines;  // the text-mode summary, one line per step
  int32_t accounted = 0;  // entries of the error list that earlier steps explained

  // done: what the step did, on success, or also on failure when partly;
  // more: reasons of a failure that the error list does not hold.
  void Step(const char* operation, const std::string& file, int16_t step_result,
            const std::string& done, bool partly = false,
            const std::vector<std::string>& more = {}) {
    result += step_result;
    const std::vector<std::string> all = mif.ErrorList()->Texts();
    std::vector<std::string> why;
    for (size_t i = static_cast<size_t>(accounted); i < all.size(); ++i) {
      why.push_back(Explained(all[i], mif, std::string_view(operation) == "InsertObjects"));
    }
    accounted = static_cast<int32_t>(all.size());
    for (const std::string& m : more) why.push_back(Explained(m, mif, false));
    Json step = Json::object();
    step["operation"] = operation;
    if (!file.empty()) step["file"] = TextToJson(file);
    step["result"] = step_result;
    if (!why.empty()) {
      step["errors"] = Json::array();
      for (const std::string& w : why) step["errors"].push_back(TextToJson(w));
    }
    report.extra["steps"].push_back(std::move(step));
    if (!lines.empty()) lines += '\n';
    lines += (file.empty() ? std::string(operation) : file) + ": ";
    if (step_result == 0) {
      lines += done;
      return;
    }
    if (partly && !done.empty()) lines += done + "; ";
    lines += "failed (" + std::to_string(step_result) + ")";
    for (size_t i = 0; i < why.size(); ++i) lines += (i == 0 ? ": " : "; ") + why[i];
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

// The MIF files of the run: the batch files of an extraction or merge (a
// glob takes them too) are no documents, and are left out with a note.
std::vector<std::string> Documents(const MifOptions& options,
                                   const std::array<std::string, 3>* batch) {
  static constexpr const char* kWhich[] = {"index", "cross-reference", "variables"};
  std::vector<std::string> documents;
  for (const std::string& file : options.files) {
    size_t k = 0;
    while (batch != nullptr && k < batch->size() && !SameFile(file, (*batch)[k])) ++k;
    if (batch != nullptr && k < batch->size()) {
      std::cerr << "voktools: note: " << file << " skipped: it is the " << kWhich[k]
                << " batch file of this run, not a document\n";
      continue;
    }
    documents.push_back(file);
  }
  return documents;
}

// Whether the first kilobyte of a MIF file holds "<MIFFile"; nothing to say
// when it cannot be read (the class reports that).
void CheckKind(const std::string& file, Reporter& reporter) {
  std::optional<std::string> head = FileHead(file, 1024);
  if (head && head->find("<MIFFile") == std::string::npos) {
    reporter.Warn(file +
                  ": not a MIF file (no <MIFFile in its first 1 KB); processed all the same");
  }
}

// One warning per placeholder or inset the insertion could not match.
void WarnInsets(const std::string& file, const clsMIFUtilities& m, FileReport& report) {
  const clsMIFUtilities::InsetMismatches& last = m.LastInsertion();
  for (const std::string& n : last.missing) {
    report.warnings.push_back(file + ": placeholder <QUONObj " + n + "> found no inset in " +
                              m.ObjFile() + "; a bare =EndInset line took its place");
  }
  for (const std::string& n : last.repeated) {
    report.warnings.push_back(file + ": placeholder <QUONObj " + n +
                              "> stands more than once; its inset is in the file each time");
  }
  for (const std::string& n : last.unused) {
    report.warnings.push_back(file + ": inset " + n + " of " + m.ObjFile() +
                              " was not put back (no placeholder asked for it); it is lost "
                              "from the MIF file");
  }
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
  const std::array<std::string, 3> batch = BatchFiles(options);
  const bool batched = op == Operation::kExtract || op == Operation::kMerge;
  RunOutputs outputs;
  for (const std::string& file : Documents(options, batched ? &batch : nullptr)) {
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
    CheckKind(file, reporter);
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
        b.Step("InsertObjects", file, result, "insets put back from " + m.ObjFile(), false,
               result != 0 ? m.LastInsertion().move_messages : std::vector<std::string>{});
        if (result == 0) WarnInsets(file, m, b.report);
        break;
    }
  }
  if (op == Operation::kMerge) {
    for (const clsMIFUtilities::LoadStop& stop : m.LoadStops()) {
      b.report.warnings.push_back(stop.file + ": line " + std::to_string(stop.line) + ": " +
                                  stop.reason);
    }
  }
  if (op == Operation::kExtract) {
    reporter.Begin("EndBatch");
    const int16_t result = m.EndBatch();
    std::string wrote;
    for (const std::string& f : m.WrittenBatchFiles()) wrote += (wrote.empty() ? "" : ", ") + f;
    b.Step("EndBatch", "", result,
           wrote.empty() ? "nothing written (no MIF file was read)" : "wrote " + wrote,
           /*partly=*/!wrote.empty());
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
