#include "report.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <ostream>

namespace vok::cli {

namespace {

constexpr size_t kBarWidth = 30;
constexpr size_t kLabelWidth = 36;

// One entry, one line: line ends inside an entry become single spaces.
std::string OneLine(std::string_view entry) {
  std::string out;
  out.reserve(entry.size());
  bool pending_break = false;
  for (char c : entry) {
    if (c == '\r' || c == '\n') {
      pending_break = true;
      continue;
    }
    if (pending_break && !out.empty()) out += ' ';
    pending_break = false;
    out += c;
  }
  return out;
}

// The reason of the first failed flush of a report; 0 before.
int first_write_error = 0;
bool write_failed = false;

int StatusOf(int result) {
  if (result == 0) return 0;
  return std::clamp(result, 1, kMaxResultStatus);
}

}  // namespace

Reporter::Reporter(ReportOptions options, std::ostream& out, std::ostream& err,
                   bool err_is_terminal)
    : options_(options), out_(out), err_(err), bar_(err_is_terminal && !options.quiet) {}

void Reporter::Begin(std::string_view label) {
  ClearBar();
  label_ = label.size() <= kLabelWidth
               ? std::string(label)
               : "..." + std::string(label.substr(label.size() - (kLabelWidth - 3)));
  percent_ = -1;
  Progress(0);
}

void Reporter::Progress(int percent) {
  if (!bar_) return;
  percent = std::clamp(percent, 0, 100);
  if (percent == percent_) return;
  percent_ = percent;
  size_t filled = kBarWidth * static_cast<size_t>(percent) / 100;
  std::string pct = std::to_string(percent);
  err_ << '\r' << label_ << " [" << std::string(filled, '#') << std::string(kBarWidth - filled, '.')
       << "] " << std::string(3 - pct.size(), ' ') << pct << '%';
  err_.flush();
  bar_drawn_ = true;
}

void Reporter::ClearBar() {
  if (!bar_drawn_) return;
  err_ << "\r\033[K";
  err_.flush();
  bar_drawn_ = false;
}

void Reporter::Warn(const std::string& text) {
  ClearBar();
  err_ << "voktools: warning: " << OneLine(text) << '\n';
  err_.flush();
  warned_ = true;
  pending_warnings_.push_back(text);
}

void Reporter::Report(const FileReport& report) {
  ClearBar();
  status_ = std::max(status_, StatusOf(report.result));
  if (!report.refusals.empty()) {
    for (const std::string& r : report.refusals) err_ << "voktools: " << OneLine(r) << '\n';
    err_.flush();
    status_ = std::max(status_, kExitCantCreate);
  }
  for (const std::string& w : report.warnings) err_ << "voktools: warning: " << OneLine(w) << '\n';
  if (!report.warnings.empty()) {
    warned_ = true;
    err_.flush();
  }
  // The entries passed on during the run come after the others, read back
  // one at a time.
  std::string lost;
  auto each_error = [&](const std::function<void(std::string_view)>& f) {
    for (const std::string& e : report.errors) f(e);
    if (report.more_errors) report.more_errors->ForEach(f, &lost);
  };
  if (options_.json) {
    // The errors go out one at a time, between the parts of the rest: an
    // error list can be longer than what is kept in memory.
    Json line = Json::object();
    line["result"] = report.result;
    line["errors"] = Json::array();
    line["warnings"] = Json::array();
    for (const std::string& w : pending_warnings_) line["warnings"].push_back(TextToJson(w));
    for (const std::string& w : report.warnings) line["warnings"].push_back(TextToJson(w));
    line["files"] = Json::object();
    for (const auto& [property, value] : report.files) line["files"][property] = TextToJson(value);
    for (const auto& [name, value] : report.numbers) line["files"][name] = value;
    if (!report.stats.is_null()) line["stats"] = report.stats;
    if (report.extra.is_object()) {
      for (const auto& [name, value] : report.extra.items()) line[name] = value;
    }
    const std::string text = DumpLine(line);
    constexpr std::string_view kEmpty = "\"errors\":[]";
    const size_t at = text.find(kEmpty) + kEmpty.size() - 1;
    out_ << std::string_view(text).substr(0, at);
    bool first = true;
    auto item = [&](std::string_view e) {
      out_ << (first ? "" : ",") << DumpLine(TextToJson(e));
      first = false;
    };
    each_error(item);
    for (const std::string& r : report.refusals) item(r);
    if (!lost.empty()) item("The rest of the list is lost: " + lost);
    out_ << std::string_view(text).substr(at) << '\n';
  } else if (report.result != 0) {
    // A failure is an error: its report goes where errors go, its first
    // line marked as one.
    std::string_view mark = "voktools: error: ";
    if (!report.summary.empty()) {
      err_ << mark << report.summary << '\n';
      mark = {};
    }
    each_error([&](std::string_view e) {
      err_ << mark << OneLine(e) << '\n';
      mark = {};
    });
    if (!lost.empty()) err_ << "The rest of the list is lost: " << lost << '\n';
    err_.flush();
  } else if (!options_.quiet) {
    if (!report.summary.empty()) out_ << report.summary << '\n';
    each_error([&](std::string_view e) { out_ << OneLine(e) << '\n'; });
    if (!lost.empty()) err_ << "voktools: error: the rest of the list is lost: " << lost << '\n';
  }
  pending_warnings_.clear();
  if (!FlushReport(out_)) status_ = kExitIoErr;
}

bool StderrIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

bool FlushReport(std::ostream& out) {
  // A stream that failed already (in a write of its own) left the reason in
  // errno, as far as nothing has changed it since.
  int why = errno;
  if (!out.fail()) {
    errno = 0;
    out.flush();
    why = errno;
  }
  if (!out.fail()) return true;
  if (!write_failed) first_write_error = why;
  write_failed = true;
  return false;
}

std::string ReportWriteFailure() {
  return first_write_error != 0 ? std::strerror(first_write_error) : "write error";
}

}  // namespace vok::cli
