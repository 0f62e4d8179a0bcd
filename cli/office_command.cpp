#include "office_command.h"

#include <filesystem>
#include <optional>
#include <system_error>
#include <string_view>

#include "file_guard.h"
#include "voktools/automation_error.h"
#include "voktools/doc2rtf.h"

namespace vok::cli {

namespace {

enum class Operation { kToRTF, kToDocument };

// Whether a file (or a link, dangling or not) stands at path.
bool Exists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

// The names of a conversion's two sides.
struct Sides {
  const char* source_property;
  const char* target_property;
  const char* source_kind;  // "document"
  const char* target_kind;  // "RTF file"
};

Sides SidesOf(Operation op) {
  if (op == Operation::kToRTF) return {"DOCFile", "RTFFile", "document", "RTF file"};
  return {"RTFFile", "DOCFile", "RTF file", "document"};
}

// Why the conversion gave 1, and how to put it right: the text after "FILE: ".
std::string Explain(const clsDOC2RTF& converter, const Sides& sides, const std::string& file,
                    const std::string& target) {
  const std::string& why = converter.LastFailureMessage();
  const std::string because = why.empty() ? "" : ": " + why;
  switch (converter.LastFailure()) {
    case clsDOC2RTF::Failure::kNoSource: {
      const std::string reason = WhyUnreadable(file);
      return std::string(sides.source_kind) + " does not exist" +
             (reason.empty() ? "" : ": " + reason);
    }
    case clsDOC2RTF::Failure::kNoApplication:
      if (converter.ApplicationMissing()) {
        std::string text = "not converted: no office suite is installed" + because;
        if (why.find(kOfficePackage) == std::string::npos) {
          text += std::string("; install one (Debian, Ubuntu: sudo apt-get install ") +
                  kOfficePackage + ")";
        }
        return text;
      }
      return "not converted: the office suite could not be reached" + because;
    case clsDOC2RTF::Failure::kNotOpened:
      return "not converted: the office suite could not open it" + because;
    case clsDOC2RTF::Failure::kNotSaved:
      return "not converted: the office suite could not save it as " + target + because;
    case clsDOC2RTF::Failure::kNone:
      break;
  }
  return "not converted";
}

// The failure's kind for JSON readers.
const char* ReasonName(clsDOC2RTF::Failure failure, bool missing) {
  switch (failure) {
    case clsDOC2RTF::Failure::kNoSource:
      return "no-source";
    case clsDOC2RTF::Failure::kNoApplication:
      return missing ? "no-office-suite" : "office-unreachable";
    case clsDOC2RTF::Failure::kNotOpened:
      return "not-opened";
    case clsDOC2RTF::Failure::kNotSaved:
      return "not-saved";
    case clsDOC2RTF::Failure::kNone:
      break;
  }
  return "failed";
}

FileReport Convert(Operation op, const std::string& file, clsDOC2RTF& converter,
                   const OfficeOptions& options, RunOutputs& outputs) {
  const Sides sides = SidesOf(op);
  const bool to_rtf = op == Operation::kToRTF;
  if (to_rtf) {
    converter.DOCFile(file);
    converter.RTFFile(options.target);
  } else {
    converter.RTFFile(file);
    converter.DOCFile(options.target);
  }
  // The target the class would derive, set explicitly, so that the checks
  // look at the very file it deletes and writes.
  std::string target = options.target;
  if (target.empty() && !file.empty()) {
    target = to_rtf ? converter.DefaultRTFFile() : converter.DefaultDOCFile();
  }
  if (to_rtf) {
    converter.RTFFile(target);
  } else {
    converter.DOCFile(target);
  }

  FileReport report;
  report.files = {{sides.source_property, file}, {sides.target_property, target}};
  if (std::optional<std::string> why = NotRegularInput(file)) {
    report.result = 1;
    report.errors = {file + ": " + sides.source_kind + " cannot be read: " + *why};
    return report;
  }
  if (!target.empty() && SameFile(file, target)) {
    report.result = kExitCantCreate;
    report.refusals = {file + ": the " + sides.target_kind + " " + target +
                       " is the file itself; not converted"};
    return report;
  }
  if (!target.empty()) {
    if (std::optional<Refusal> refusal =
            RefuseOutput(target, {.force = options.force, .what = sides.target_kind}, outputs)) {
      report.result = kExitCantCreate;
      report.refusals = {std::move(refusal->message)};
      return report;
    }
  }

  const bool existed = Exists(target);
  report.result = to_rtf ? converter.DOC2RTF() : converter.RTF2DOC();
  outputs.Claim(target, file);
  if (report.result == 0) {
    report.summary = file + ": converted to " + target;
    return report;
  }
  std::string error = file + ": " + Explain(converter, sides, file, target);
  if (existed && !Exists(target)) error += "; the earlier " + target + " was deleted";
  report.errors = {std::move(error)};
  report.extra = Json::object();
  report.extra["reason"] = ReasonName(converter.LastFailure(), converter.ApplicationMissing());
  return report;
}

int Run(Operation op, const OfficeOptions& options, Reporter& reporter) {
  RunOutputs outputs;
  clsDOC2RTF converter;
  // Several files share one instance of the office suite, quit at the end.
  const bool batch = options.files.size() > 1;
  if (batch) converter.StartBatch();
  std::optional<std::string> not_quit;
  auto end_batch = [&] {
    if (!batch || !converter.Started()) return;
    try {
      converter.EndBatch();
    } catch (const AutomationError& e) {
      not_quit = e.description();
    }
  };
  const size_t n = options.files.size();
  for (size_t i = 0; i < n && !reporter.OutputFailed(); ++i) {
    const std::string& file = options.files[i];
    reporter.Begin(file);
    reporter.Progress(static_cast<int>(i * 100 / n));
    FileReport report = Convert(op, file, converter, options, outputs);
    if (i + 1 == n) {
      end_batch();
      if (not_quit) {
        report.warnings.push_back("the office suite instance of this run could not be quit: " +
                                  *not_quit);
      }
    }
    reporter.Report(report);
  }
  // A run cut short by a report that could not be written.
  end_batch();
  return reporter.ExitStatus();
}

}  // namespace

int RunDoc2Rtf(const OfficeOptions& options, Reporter& reporter) {
  return Run(Operation::kToRTF, options, reporter);
}

int RunRtf2Doc(const OfficeOptions& options, Reporter& reporter) {
  return Run(Operation::kToDocument, options, reporter);
}

}  // namespace vok::cli
