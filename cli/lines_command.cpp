#include "lines_command.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <set>

#include "file_guard.h"
#include "voktools/automation_error.h"
#include "voktools/collection.h"
#include "voktools/common.h"
#include "voktools/retrieve_file.h"

namespace vok::cli {

namespace {

// A fresh file DIR/.<name>.XXXXXX for the copy, removed again unless it was
// moved into place.
class TempCopy {
 public:
  static std::unique_ptr<TempCopy> Create(const std::string& dir, const std::string& name,
                                          std::string* error) {
    std::string pattern = dir + "." + name + ".XXXXXX";
    int fd = ::mkstemp(pattern.data());
    if (fd < 0) {
      *error = "cannot create a temporary file in " + dir + ": " + std::strerror(errno);
      return nullptr;
    }
    // mkstemp makes the file private; the copy gets the usual permissions.
    mode_t mask = ::umask(0);
    ::umask(mask);
    (void)::fchmod(fd, 0666 & ~mask);
    ::close(fd);
    auto copy = std::unique_ptr<TempCopy>(new TempCopy(pattern));
    if (!copy->out_) {
      *error = "cannot write " + pattern;
      return nullptr;
    }
    return copy;
  }

  ~TempCopy() {
    if (!moved_) std::remove(path_.c_str());
  }

  void Write(std::string_view bytes) { out_.write(bytes.data(), std::streamsize(bytes.size())); }
  // False when a write or the close failed.
  bool Close() {
    out_.close();
    return !out_.fail();
  }
  void MovedAway() { moved_ = true; }
  const std::string& path() const { return path_; }

 private:
  explicit TempCopy(std::string path)
      : path_(std::move(path)), out_(path_, std::ios::binary | std::ios::trunc) {}

  std::string path_;
  std::ofstream out_;
  bool moved_ = false;
};

// Why the reader could not open path, as far as the system says.
std::string WhyNotOpened(const std::string& path) {
  std::error_code ec;
  (void)std::filesystem::status(path, ec);
  if (ec) return ec.message();
  int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return std::strerror(errno);
  ::close(fd);
  return "it cannot be read";
}

// The offset of the first byte where a and b differ (the shorter one's size
// when one is a prefix of the other), or nothing when they are equal.
std::optional<int64_t> FirstDifference(const std::string& a, const std::string& b,
                                       std::string* error) {
  std::ifstream fa(a, std::ios::binary), fb(b, std::ios::binary);
  if (!fa || !fb) {
    *error = "cannot read " + (fa ? b : a) + " back";
    return 0;
  }
  constexpr size_t kBlock = 64 * 1024;
  std::string ba(kBlock, '\0'), bb(kBlock, '\0');
  int64_t offset = 0;
  while (true) {
    fa.read(ba.data(), kBlock);
    fb.read(bb.data(), kBlock);
    auto na = static_cast<size_t>(fa.gcount()), nb = static_cast<size_t>(fb.gcount());
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
  // Starts the copy of path; null, with the error in report, when it cannot.
  std::unique_ptr<TempCopy> StartCopy(const std::string& path, const std::string& target,
                                      FileReport& report);
  // Moves the finished copy into place and checks it against the input.
  void FinishCopy(TempCopy& copy, const std::string& path, const std::string& target,
                  FileReport& report);

  const LinesOptions& options_;
  Reporter& reporter_;
  clsCommon common_;
  std::set<std::string> targets_;
};

std::unique_ptr<TempCopy> LinesRun::StartCopy(const std::string& path, const std::string& target,
                                              FileReport& report) {
  std::string name = std::filesystem::path(path).filename().string();
  std::string error;
  if (!targets_.insert(target).second) {
    error = target + " was already written for an earlier file";
  } else if (auto copy = TempCopy::Create(JoinPath(options_.out_dir, ""), name, &error)) {
    return copy;
  }
  report.result = 1;
  report.errors.push_back(path + ": " + error);
  return nullptr;
}

void LinesRun::FinishCopy(TempCopy& copy, const std::string& path, const std::string& target,
                          FileReport& report) {
  if (!copy.Close()) {
    report.result = 1;
    report.errors.push_back(path + ": cannot write " + copy.path());
    return;
  }
  auto errors = Collection::Create();
  if (common_.MoveFile(copy.path(), target, Variant(errors)) != 0) {
    report.result = 1;
    for (std::string& e : errors->Texts()) report.errors.push_back(std::move(e));
    return;
  }
  copy.MovedAway();
  std::string error;
  std::optional<int64_t> diff = FirstDifference(path, target, &error);
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
    report.errors.push_back(path + ": cannot open the file: " + WhyNotOpened(path));
    return report;
  }

  std::unique_ptr<TempCopy> copy;
  std::string target;
  if (!options_.out_dir.empty()) {
    target = JoinPath(options_.out_dir, std::filesystem::path(path).filename().string());
    report.files.emplace_back("Output", target);
    copy = StartCopy(path, target, report);
  }

  LineCounts counts;
  try {
    std::string_view line;
    int16_t shown = 0;
    while (reader.NextLine(&line)) {
      counts.Add(line);
      if (copy) copy->Write(line);
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
  if (copy) FinishCopy(*copy, path, target, report);
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
  for (const std::string& path : options.files) {
    if (reporter.OutputFailed()) break;
    reporter.Report(run.Process(path));
  }
  return reporter.ExitStatus();
}

}  // namespace vok::cli
