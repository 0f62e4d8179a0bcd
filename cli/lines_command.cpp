#include "lines_command.h"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>

#include "common/replacement_file.h"
#include "file_guard.h"
#include "platform/env.h"
#include "voktools/automation_error.h"
#include "voktools/collection.h"
#include "voktools/messages.h"
#include "voktools/retrieve_file.h"

namespace vok::cli {

namespace {

// The offset of the first byte where a and b differ (the shorter one's size
// when one is a prefix of the other), or nothing when they are equal.
std::optional<int64_t> FirstDifference(FileSystem& fs, const std::string& a, const std::string& b,
                                       std::string* error) {
  std::unique_ptr<ReadableFile> fa, fb;
  const bool a_open = fs.OpenForRead(a, &fa).ok();
  if (!a_open || !fs.OpenForRead(b, &fb).ok()) {
    *error = "cannot read " + (a_open ? b : a) + " back";
    return 0;
  }
  constexpr size_t kBlock = 64 * 1024;
  std::string ba(kBlock, '\0'), bb(kBlock, '\0');
  int64_t offset = 0;
  while (true) {
    size_t na = 0, nb = 0;
    if (!fa->Read(kBlock, ba.data(), &na).ok() || !fb->Read(kBlock, bb.data(), &nb).ok()) {
      *error = "cannot read " + a + " or " + b + " back";
      return 0;
    }
    size_t n = std::min(na, nb);
    auto mismatch = std::mismatch(ba.begin(), ba.begin() + std::ptrdiff_t(n), bb.begin());
    if (mismatch.first != ba.begin() + std::ptrdiff_t(n)) {
      return offset + (mismatch.first - ba.begin());
    }
    if (na != nb) return offset + int64_t(n);
    if (na < kBlock) return std::nullopt;
    offset += int64_t(n);
  }
}

std::string JoinPath(const std::string& dir, const std::string& name) {
  if (!dir.empty() && dir.back() == '/') return dir + name;
  return dir + "/" + name;
}

Json StatsJson(const LineCounts& c) {
  Json j = Json::object();
  j["lines"] = c.lines;
  j["cr_lf"] = c.cr_lf;
  j["lf"] = c.lf;
  j["cr"] = c.cr;
  j["lf_cr"] = c.lf_cr;
  j["last_line_without_end"] = c.last_without_end;
  j["longest"] = c.longest;
  j["bytes"] = c.bytes;
  return j;
}

class LinesRun {
 public:
  LinesRun(const LinesOptions& options, Reporter& reporter)
      : options_(options), reporter_(reporter) {}

  FileReport Process(const std::string& path);

 private:
  // Starts the copy of path; false, with the error in report, when it cannot.
  bool StartCopy(const std::string& path, const std::string& target, ReplacementFile& copy,
                 FileReport& report);
  // Puts the finished copy in place and checks it against the input;
  // written is the outcome of the writes.
  void FinishCopy(ReplacementFile& copy, const Status& written, const std::string& path,
                  FileReport& report);

  const LinesOptions& options_;
  Reporter& reporter_;
  Env& env_ = CurrentEnv();
  std::set<std::string> targets_;
};

bool LinesRun::StartCopy(const std::string& path, const std::string& target,
                         ReplacementFile& copy, FileReport& report) {
  std::string error;
  if (!targets_.insert(target).second) {
    error = path + ": " + target + " was already written for an earlier file";
  } else if (Status s = copy.Start(env_, target); !s.ok()) {
    // What is at the target and cannot be replaced is told as a failed
    // move would tell it.
    FileInfo info;
    error = env_.fs->GetLinkInfo(target, &info).ok()
                ? std::string(Message(MessageId::kErrorDeleting)) + target + "\r\n" + s.message()
                : path + ": cannot create a temporary file in " + JoinPath(options_.out_dir, "") +
                      ": " + s.message();
  } else {
    return true;
  }
  report.result = 1;
  report.errors.push_back(error);
  return false;
}

void LinesRun::FinishCopy(ReplacementFile& copy, const Status& written, const std::string& path,
                          FileReport& report) {
  const std::string& target = copy.target();
  if (!written.ok() || !copy.Close().ok()) {
    report.result = 1;
    report.errors.push_back(path + ": cannot write " + target);
    return;
  }
  auto errors = Collection::Create();
  if (copy.Commit(Variant(errors)) != 0) {
    report.result = 1;
    for (std::string& e : errors->Texts()) report.errors.push_back(std::move(e));
    return;
  }
  std::string error;
  std::optional<int64_t> diff = FirstDifference(*env_.fs, path, target, &error);
  if (!error.empty()) {
    report.result = 1;
    report.errors.push_back(path + ": " + error);
  } else if (diff) {
    report.result = 1;
    report.errors.push_back(path + ": the copy " + target + " differs from the input at offset " +
                            std::to_string(*diff));
  }
}

FileReport LinesRun::Process(const std::string& path) {
  FileReport report;
  report.files.emplace_back("Filename", path);
  reporter_.Begin(path);

  // Opening a FIFO for reading would wait for a writer.
  if (std::optional<std::string> why = NotRegularInput(path)) {
    report.result = 1;
    report.errors.push_back(path + ": cannot open the file: " + *why);
    return report;
  }
  clsRetrieveFile reader;
  reader.Filename(path);
  reader.ChunkSize(options_.chunk);
  if (!reader.OpenFile()) {
    report.result = 1;
    const std::string why = WhyUnreadable(path);
    report.errors.push_back(path + ": cannot open the file: " +
                            (why.empty() ? "it cannot be read" : why));
    return report;
  }

  ReplacementFile copy;
  Status written;
  if (!options_.out_dir.empty()) {
    const std::string target =
        JoinPath(options_.out_dir, std::filesystem::path(path).filename().string());
    report.files.emplace_back("Output", target);
    StartCopy(path, target, copy, report);
  }

  LineCounts counts;
  try {
    std::string_view line;
    int16_t shown = 0;
    while (reader.NextLine(&line)) {
      counts.Add(line);
      if (copy.started() && written.ok()) written = copy.file().Append(line);
      if (reader.Progress() != shown) {
        shown = reader.Progress();
        reporter_.Progress(shown);
      }
    }
  } catch (const AutomationError& e) {
    // Counts of a partly read file would mislead: only the error is told.
    report.result = 1;
    report.errors.push_back(path + ": " + e.description());
    return report;
  }
  reader.CloseFile();
  reporter_.Progress(100);

  report.summary = Summary(path, counts);
  report.stats = StatsJson(counts);
  if (copy.started()) FinishCopy(copy, written, path, report);
  return report;
}

}  // namespace

void LineCounts::Add(std::string_view line) {
  size_t n = line.size();
  size_t end = 0;
  if (n >= 2 && line[n - 2] == '\r' && line[n - 1] == '\n') {
    ++cr_lf, end = 2;
  } else if (n >= 2 && line[n - 2] == '\n' && line[n - 1] == '\r') {
    ++lf_cr, end = 2;
  } else if (n >= 1 && line[n - 1] == '\n') {
    ++lf, end = 1;
  } else if (n >= 1 && line[n - 1] == '\r') {
    ++cr, end = 1;
  } else {
    last_without_end = true;
  }
  ++lines;
  longest = std::max(longest, int64_t(n - end));
  bytes += int64_t(n);
}

std::string Summary(std::string_view file, const LineCounts& c) {
  return std::string(file) + ": " + std::to_string(c.lines) + " lines (CR LF " +
         std::to_string(c.cr_lf) + ", LF " + std::to_string(c.lf) + ", CR " + std::to_string(c.cr) +
         ", LF CR " + std::to_string(c.lf_cr) +
         "), last line without line end: " + (c.last_without_end ? "yes" : "no") + ", longest " +
         std::to_string(c.longest) + " bytes, " + std::to_string(c.bytes) + " bytes";
}

int RunLines(const LinesOptions& options, Reporter& reporter) {
  LinesRun run(options, reporter);
  return reporter.ReportEach(options.files, [&](const std::string& path) { return run.Process(path); });
}

}  // namespace vok::cli
