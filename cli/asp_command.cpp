#include "asp_command.h"

#include <cstdint>
#include <optional>

#include "file_guard.h"
#include "voktools/asp2html.h"
#include "voktools/automation_error.h"
#include "voktools/common.h"

namespace vok::cli {

namespace {

enum class Operation { kProtect, kRestore };

// The HTML and script files asp2html writes for page, named as the class
// names them when the options leave them empty.
std::pair<std::string, std::string> ProtectOutputs(const std::string& page,
                                                   const AspOptions& options) {
  clsCommon common;
  const std::string stem = common.strParseFileName(page, 0) + common.strParseFileName(page, 1) +
                           "_" + common.strParseFileName(page, 2);
  return {options.htm_file.empty() ? stem + ".htm" : options.htm_file,
          options.scr_file.empty() ? stem + ".scr" : options.scr_file};
}

// The report of a file turned away before the class saw it, or nothing.
std::optional<FileReport> Refuse(Operation op, const std::string& file, const AspOptions& options,
                                 const RunOutputs& outputs) {
  FileReport report;
  const bool protect = op == Operation::kProtect;
  const auto [htm, scr] =
      protect ? ProtectOutputs(file, options) : std::pair{file, options.scr_file};
  report.files = {
      {"ASPFile", protect ? file : options.asp_file}, {"HTMFile", htm}, {"SCRFile", scr}};
  if (std::optional<std::string> why = NotRegularInput(file)) {
    report.result = 1;
    report.errors = {(protect ? "ASP2HTML : " : "HTML2ASP : ") + file,
                     "Unable to open file : " + file + "\r\n" + *why};
    return report;
  }
  if (!protect) return std::nullopt;
  for (const auto& [output, what] : {std::pair{htm, "HTML file"}, std::pair{scr, "script file"}}) {
    if (std::optional<Refusal> r =
            RefuseOutput(output, {.force = options.force, .what = what}, outputs)) {
      report.refusals.push_back(std::move(r->message));
    }
  }
  if (report.refusals.empty()) return std::nullopt;
  report.result = kExitCantCreate;
  return report;
}

// One warning per placeholder or block that the restoration could not match.
void WarnMismatches(const clsASP2HTML& page, FileReport& report) {
  using Kind = clsASP2HTML::Mismatch::Kind;
  const std::string& htm = page.HTMFile();
  for (const clsASP2HTML::Mismatch& m : page.RestoreMismatches()) {
    const std::string at =
        htm + ": line " + std::to_string(m.line) + ": placeholder " + m.placeholder;
    switch (m.kind) {
      case Kind::kNoBlock:
        report.warnings.push_back(at + " has no block in " + page.SCRFile() + "; it was removed");
        break;
      case Kind::kRepeated:
        report.warnings.push_back(at + " was put back before; its server code is in " +
                                  page.ASPFile() + " more than once");
        break;
      case Kind::kLeftAsItStands:
        report.warnings.push_back(at + " left as it stands: " + m.reason);
        break;
      case Kind::kUnusedBlock:
        report.warnings.push_back(htm + ": block " + m.placeholder + " of " + page.SCRFile() +
                                  " has no placeholder; its server code is lost from " +
                                  page.ASPFile());
        break;
    }
  }
}

FileReport Process(Operation op, const std::string& file, const AspOptions& options,
                   Reporter& reporter, RunOutputs& outputs) {
  reporter.Begin(file);
  if (std::optional<FileReport> refused = Refuse(op, file, options, outputs)) return *refused;
  clsASP2HTML page;
  if (op == Operation::kProtect) {
    page.ASPFile(file);
    page.HTMFile(options.htm_file);
  } else {
    page.HTMFile(file);
    page.ASPFile(options.asp_file);
  }
  page.SCRFile(options.scr_file);
  if (reporter.ShowsProgress()) {
    page.Progress().Connect([&reporter](int16_t percent) { reporter.Progress(percent); });
  }

  FileReport report;
  std::string failure;
  try {
    report.result = op == Operation::kProtect ? page.ASP2HTML() : page.HTML2ASP();
  } catch (const AutomationError& e) {
    // The call ended half-way; the class left no half-written output.
    report.result = 1;
    failure = "Error " + std::to_string(e.number()) + " : " + e.description();
  }
  report.errors = page.ErrorList()->Texts();
  if (!failure.empty()) {
    report.errors.push_back(std::move(failure));
  } else if (op == Operation::kRestore && report.result == 0) {
    WarnMismatches(page, report);
  }
  if (op == Operation::kProtect) {
    outputs.Claim(page.HTMFile(), file);
    outputs.Claim(page.SCRFile(), file);
  }
  // After the call: the names the class derived for the properties left empty.
  report.files = {
      {"ASPFile", page.ASPFile()}, {"HTMFile", page.HTMFile()}, {"SCRFile", page.SCRFile()}};
  if (report.result == 0) {
    report.summary = op == Operation::kProtect
                         ? file + ": HTML in " + page.HTMFile() + ", blocks in " + page.SCRFile()
                         : file + ": page in " + page.ASPFile() + ", blocks from " + page.SCRFile();
  }
  return report;
}

int Run(Operation op, const AspOptions& options, Reporter& reporter) {
  RunOutputs outputs;
  return reporter.ReportEach(options.files, [&](const std::string& file) {
    return Process(op, file, options, reporter, outputs);
  });
}

}  // namespace

int RunAsp2Html(const AspOptions& options, Reporter& reporter) {
  return Run(Operation::kProtect, options, reporter);
}

int RunHtml2Asp(const AspOptions& options, Reporter& reporter) {
  return Run(Operation::kRestore, options, reporter);
}

}  // namespace vok::cli
