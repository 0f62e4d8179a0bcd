#include "asp_command.h"

#include <cstdint>

#include "voktools/asp2html.h"
#include "voktools/automation_error.h"

namespace vok::cli {

namespace {

enum class Operation { kProtect, kRestore };

FileReport Process(Operation op, const std::string& file, const AspOptions& options,
                   Reporter& reporter) {
  reporter.Begin(file);
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
  if (!failure.empty()) report.errors.push_back(std::move(failure));
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
  for (const std::string& file : options.files) {
    reporter.Report(Process(op, file, options, reporter));
  }
  return reporter.ExitStatus();
}

}  // namespace

int RunAsp2Html(const AspOptions& options, Reporter& reporter) {
  return Run(Operation::kProtect, options, reporter);
}

int RunHtml2Asp(const AspOptions& options, Reporter& reporter) {
  return Run(Operation::kRestore, options, reporter);
}

}  // namespace vok::cli
