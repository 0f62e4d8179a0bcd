#include "validate_command.h"

#include <stdlib.h>

#include <filesystem>
#include <optional>
#include <ostream>

#include "file_guard.h"
#include "voktools/automation_error.h"
#include "voktools/common.h"
#include "voktools/html_validate.h"

namespace vok::cli {

namespace {

// A private folder, removed with what it holds.
class PrivateFolder {
 public:
  PrivateFolder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") +
                          "/voktools-validate.XXXXXX";
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern + "/";
  }
  ~PrivateFolder() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
  if (from.empty()) return;
  for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size()) {
    text.replace(at, from.size(), to);
  }
}

FileReport Process(const std::string& page, const ValidateOptions& options, Reporter& reporter) {
  reporter.Begin(page);
  FileReport report;
  const bool backup = options.backup && !options.dry_run;
  report.files = {{"Filename", page}, {"Backup", backup ? page + ".bak" : ""}};
  auto fail = [&report, &page](const std::string& why) {
    report.result = 1;
    report.errors = {"Validate : " + page, why};
    return report;
  };
  if (std::optional<std::string> why = NotRegularInput(page)) {
    return fail("Unable to open file : " + page + "\r\n" + *why);
  }
  if (backup && clsCommon().FileExists(page)) {
    // Every backup is kept: PAGE.bak is the newest, PAGE.bak.1 the oldest.
    std::string why;
    std::optional<std::string> earlier = MoveBackupAside(page + ".bak", &why);
    if (!earlier) {
      return fail("Unable to keep the earlier backup " + page + ".bak : " + why);
    }
    if (!earlier->empty()) {
      report.summary = page + ".bak: the earlier backup was moved to " + *earlier;
      report.files.emplace_back("EarlierBackup", *earlier);
    }
  }
  clsHTMLValidate v;
  if (options.tags) v.Tags(*options.tags);
  v.Backup(backup);
  v.Progress().Connect([&reporter](int16_t percent) { reporter.Progress(percent); });
  std::optional<PrivateFolder> folder;
  std::string target = page;
  if (options.dry_run) {
    // The copy is validated; the report names the page. A page that cannot
    // be copied is reported as the copy's open failure.
    folder.emplace();
    if (folder->path().empty()) {
      report.result = 1;
      report.errors = {"Unable to create a private folder for --dry-run"};
      return report;
    }
    target = folder->path() + "page";
    std::error_code ec;
    std::filesystem::copy_file(SystemName(page), target, ec);
  }
  v.Filename(target);
  report.result = v.HTMLValidate();
  report.errors = v.ErrorList()->TakeTexts();
  if (options.dry_run) {
    for (std::string& entry : report.errors) ReplaceAll(entry, target, page);
  }
  return report;
}

}  // namespace

int RunValidate(const ValidateOptions& options, Reporter& reporter, std::ostream& err) {
  if (options.tags) {
    try {
      clsHTMLValidate probe;
      probe.Tags(*options.tags);
    } catch (const AutomationError& e) {
      err << "voktools validate: --tags: "
          << (e.number() == err::kSubscript ? "more than 128 tags"
                                            : "every item must be NAME|FLAG followed by \",\"")
          << '\n';
      return kExitUsage;
    }
  }
  for (const std::string& page : options.files) {
    if (reporter.OutputFailed()) break;
    reporter.Report(Process(page, options, reporter));
  }
  return reporter.ExitStatus();
}

}  // namespace vok::cli
