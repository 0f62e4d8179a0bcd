// How the converter commands report: one report per processed file, as text
// lines or as one JSON object per file, a progress bar on a terminal, and an
// exit status summing up the results.
#pragma once

#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "json_text.h"
#include "spilled_texts.h"

namespace vok::cli {

// Exit statuses besides the results themselves.
inline constexpr int kExitUsage = 64;     // bad command line
inline constexpr int kExitDataErr = 65;   // --strict: the run had warnings
inline constexpr int kExitUnavailable = 69;  // a service the run needs is missing (a screen)
inline constexpr int kExitSoftware = 70;  // an unexpected failure
inline constexpr int kExitCantCreate = 73;  // an output refused (the reason on err)
inline constexpr int kExitIoErr = 74;       // the report could not be written
inline constexpr int kMaxResultStatus = 63;

struct FileReport {
  // The class's result: 0 for success, otherwise the number of failures.
  int result = 0;
  // The error list, in order, and its further entries when they were
  // passed on as the run made them.
  std::vector<std::string> errors;
  std::shared_ptr<SpilledTexts> more_errors;
  // The files involved by property name ("Filename", "Output"), in order.
  std::vector<std::pair<std::string, std::string>> files;
  // Settings reported with the files in JSON mode, after them.
  std::vector<std::pair<std::string, int>> numbers;
  // The text-mode summary line; none when empty.
  std::string summary;
  // Further figures for JSON mode, under "stats"; none when null.
  Json stats;
  // Further members of the JSON object, after the others; none when null.
  Json extra;
  // Outputs refused before the library was called, one message each: on
  // standard error, and after the errors in JSON mode. Exit status 73.
  std::vector<std::string> refusals;
  // What the run lost or doubts without failing (a placeholder without its
  // object, a file of the wrong kind), each naming its file: on standard
  // error as "voktools: warning: ...", and under "warnings" in JSON mode.
  // They leave the result as it is; --strict makes the exit status 65.
  std::vector<std::string> warnings;
};

struct ReportOptions {
  bool json = false;
  // No progress bar, and in text mode no report of a file that succeeded:
  // only errors and warnings, on standard error.
  bool quiet = false;
  // A run with warnings and no failure exits with kExitDataErr.
  bool strict = false;
};

class Reporter {
 public:
  // The bar is drawn on err only when err is a terminal and not quiet.
  Reporter(ReportOptions options, std::ostream& out, std::ostream& err, bool err_is_terminal);

  // Starts a file: its progress bar shows label.
  void Begin(std::string_view label);
  // Moves the bar to percent (0 to 100); redraws only on change.
  void Progress(int percent);
  // Clears the bar and prints the report: in text mode on standard output
  // when the result is 0, else on standard error (a failure is an error);
  // in JSON mode as one line on standard output. Warnings go to standard
  // error in both modes.
  void Report(const FileReport& report);
  // A warning of the library during the current file: printed at once on
  // standard error, and part of the file's "warnings" in JSON mode.
  void Warn(const std::string& text);

  // 0 when every result was 0, otherwise the largest result, at least 1 and
  // at most kMaxResultStatus; kExitCantCreate when an output was refused;
  // kExitIoErr when a report could not be written; kExitDataErr instead of
  // 0 when --strict and a file had warnings.
  int ExitStatus() const {
    return status_ == 0 && options_.strict && warned_ ? kExitDataErr : status_;
  }
  // A report could not be written: the commands process no further file,
  // since nobody would learn what became of it.
  bool OutputFailed() const { return status_ == kExitIoErr; }

  // Reports process(file) for each file in turn until a report cannot be
  // written; the exit status.
  template <typename Process>
  int ReportEach(const std::vector<std::string>& files, Process process) {
    for (const std::string& file : files) {
      if (OutputFailed()) break;
      Report(process(file));
    }
    return ExitStatus();
  }

  bool ShowsProgress() const { return bar_; }

 private:
  void ClearBar();

  ReportOptions options_;
  std::ostream& out_;
  std::ostream& err_;
  bool bar_;
  bool bar_drawn_ = false;
  std::string label_;
  int percent_ = -1;
  int status_ = 0;
  bool warned_ = false;
  std::vector<std::string> pending_warnings_;  // from Warn, for the next report
};

// Whether standard error is a terminal.
bool StderrIsTerminal();

// Flushes out; false when that or an earlier write to it failed.
bool FlushReport(std::ostream& out);
// Why a write of FlushReport failed first ("No space left on device").
std::string ReportWriteFailure();

}  // namespace vok::cli
