#include "validate_command.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <ostream>
#include <set>
#include <vector>

#include "common/replacement_file.h"
#include "file_guard.h"
#include "private_folder.h"
#include "spilled_texts.h"
#include "platform/env.h"
#include "platform/file_system.h"
#include "voktools/ascii.h"
#include "voktools/automation_error.h"
#include "voktools/common.h"
#include "voktools/host.h"
#include "voktools/html_validate.h"
#include "voktools/temp_file_name.h"

extern char** environ;

namespace vok::cli {

namespace {

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
  if (from.empty()) return;
  for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size()) {
    text.replace(at, from.size(), to);
  }
}

std::string_view TrimBlanks(std::string_view s) {
  const size_t first = s.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

// The output of the system's `diff -u` between old_file and new_file, both
// labelled label (so that `patch` applies it to the page); nothing, with the
// reason in *why, when diff cannot be run or fails. Its standard error goes
// to err_file.
std::optional<std::string> UnifiedDiff(const std::string& old_file, const std::string& new_file,
                                       const std::string& label, const std::string& err_file,
                                       std::string* why) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    *why = std::string("cannot run diff: ") + std::strerror(errno);
    return std::nullopt;
  }
  posix_spawn_file_actions_t actions;
  ::posix_spawn_file_actions_init(&actions);
  ::posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  ::posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  ::posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err_file.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
  // -a: a page with NUL bytes is still compared line by line.
  std::vector<std::string> args = {"diff",    "-u",  "-a", "--label", label,
                                   "--label", label, "--", old_file,  new_file};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int spawned = ::posix_spawnp(&pid, "diff", &actions, nullptr, argv.data(), environ);
  ::posix_spawn_file_actions_destroy(&actions);
  ::close(fds[1]);
  if (spawned != 0) {
    ::close(fds[0]);
    *why = std::string("cannot run diff: ") + std::strerror(spawned);
    return std::nullopt;
  }
  std::string text;
  char buffer[1 << 16];
  for (;;) {
    const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(buffer, static_cast<size_t>(n));
  }
  ::close(fds[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  // 0: the same, 1: different, anything else: trouble.
  if (WIFEXITED(status) && WEXITSTATUS(status) <= 1) return text;
  std::string said;
  (void)ReadWholeFile(*CurrentEnv().fs, err_file, &said);
  const std::string first_line = said.substr(0, said.find('\n'));
  *why = "diff failed" + (first_line.empty() ? std::string() : ": " + first_line);
  return std::nullopt;
}

// The command's own summary line of a page: what the run did to it,
// counting the repairs the error list does not name.
std::string Summary(const std::string& page, const clsHTMLValidate::RunDetails& run, int result,
                    bool dry_run) {
  if (result != 0) {
    std::string text = page + ": not changed";
    if (run.listed > 0) {
      text += ": none of the " + std::to_string(run.listed) + " repair(s) listed below was made";
    }
    return text;
  }
  const int32_t total = run.listed + run.Unlisted();
  if (total == 0) return page + ": nothing to repair";
  std::string text = page + ": " + std::to_string(total) +
                     (dry_run ? " repair(s) would be made" : " repair(s) made");
  if (run.Unlisted() > 0) {
    text += ", " + std::to_string(run.Unlisted()) + " of them not listed below (";
    std::string kinds;
    if (run.paragraphs_closed > 0) {
      kinds += std::to_string(run.paragraphs_closed) + " </P> ending a paragraph";
    }
    if (run.comments_closed > 0) {
      if (!kinds.empty()) kinds += ", ";
      kinds += std::to_string(run.comments_closed) + " --> ending a comment before </SCRIPT>";
    }
    text += kinds + ")";
  }
  if (dry_run) text += "; the page was not changed (--dry-run)";
  return text;
}

// One warning for the SCRIPT and STYLE elements whose content the repairs
// reach into: the first one's line, and the lines of up to ten more.
std::string ScriptTextWarning(const std::string& page,
                              const std::vector<clsHTMLValidate::ScriptTextChange>& changes) {
  const auto& first = changes.front();
  std::string text = page + ": line " + std::to_string(first.line) + ": the content of a " +
                     first.element + " element is repaired as markup (\"<\" and \">\" in " +
                     "scripts and style sheets are not markup)";
  if (changes.size() > 1) {
    text += "; so is that of " + std::to_string(changes.size() - 1) +
            " more SCRIPT or STYLE element(s) (line" + (changes.size() > 2 ? "s" : "");
    constexpr size_t kShown = 10;
    for (size_t i = 1; i < changes.size() && i <= kShown; ++i) {
      text += (i == 1 ? " " : ", ") + std::to_string(changes[i].line);
    }
    if (changes.size() - 1 > kShown) text += ", ...";
    text += ")";
  }
  return text + "; --keep-script-text leaves it as it is";
}

// While it lives, the library's warnings about target name page instead,
// as what a run on the page would warn of; afterwards they go to the
// reporter as they are (as the command sets them up).
class CopyWarnings {
 public:
  CopyWarnings(Reporter& reporter, const std::string& target, const std::string& page)
      : reporter_(reporter) {
    SetWarningSink([&reporter, target, page](const std::string& text) {
      std::string said = text;
      if (said.starts_with(target + ": ")) said = said.substr(target.size() + 2);
      ReplaceAll(said, target, page);
      reporter.Warn(page + ": a run would warn: " + said);
    });
  }
  ~CopyWarnings() {
    SetWarningSink([&reporter = reporter_](const std::string& text) { reporter.Warn(text); });
  }
  CopyWarnings(const CopyWarnings&) = delete;
  CopyWarnings& operator=(const CopyWarnings&) = delete;

 private:
  Reporter& reporter_;
};

FileReport Process(const std::string& page, const ValidateOptions& options, const std::string& tags,
                   Reporter& reporter, std::optional<std::string>* diff) {
  reporter.Begin(page);
  if (options.diff) *diff = std::string();  // until the page changes
  FileReport report;
  const bool backup = options.backup && !options.dry_run;
  report.files = {{"Filename", page}, {"Backup", backup ? page + ".bak" : ""}};
  auto fail = [&report, &page](const std::string& why) {
    report.result = 1;
    report.errors = {"Validate : " + page, why};
    report.summary = page + ": not changed";
    report.stats = {{"changed", false}, {"repairs", 0}, {"unlisted", 0}};
    return report;
  };
  if (std::optional<std::string> why = NotRegularInput(page)) {
    return fail("Unable to open file : " + page + "\r\n" + *why);
  }
  std::string earlier_backup;
  if (backup && clsCommon().FileExists(page)) {
    // Every backup is kept: PAGE.bak is the newest, PAGE.bak.1 the oldest.
    std::string why;
    std::optional<std::string> earlier = MoveBackupAside(page + ".bak", &why);
    if (!earlier) {
      return fail("Unable to keep the earlier backup " + page + ".bak : " + why);
    }
    if (!earlier->empty()) {
      earlier_backup = page + ".bak: the earlier backup was moved to " + *earlier;
      report.files.emplace_back("EarlierBackup", *earlier);
    }
  }
  clsHTMLValidate v;
  if (options.tags) v.Tags(tags);
  v.Backup(backup);
  v.KeepScriptText(options.keep_script_text);
  v.Progress().Connect([&reporter](int16_t percent) { reporter.Progress(percent); });
  std::optional<PrivateFolder> folder;
  if (options.dry_run || options.diff) {
    folder.emplace();
    if (folder->path().empty()) {
      if (options.dry_run) return fail("Unable to create a private folder for --dry-run");
      report.warnings.push_back(page + ": --diff: no private folder for the page as it was");
    }
  }
  std::string target = page;
  std::string before;  // the page as it was, for --diff
  if (options.dry_run) {
    // The copy is validated; the report names the page.
    target = folder->File("page");
    FileSystem& fs = *CurrentEnv().fs;
    const Status s = CopyFile(CurrentEnv(), page, target, SideFileOf(page));
    if (!s.ok()) return fail("Unable to open file : " + page + "\r\n" + s.message());
    // The page's very mode, so that the run says what it would of the page.
    FileInfo info;
    if (fs.GetInfo(page, &info).ok()) (void)fs.SetMode(target, info.mode);
  } else if (options.diff && !folder->path().empty()) {
    before = folder->File("before");
    const Status s = CopyFile(CurrentEnv(), page, before, SideFileOf(page));
    if (!s.ok()) {
      // A page that is not there is the class's to report.
      if (s.code() != ENOENT) {
        report.warnings.push_back(page + ": --diff: cannot keep the page as it was: " +
                                  s.message());
      }
      before.clear();
    }
  }
  {
    // What the library says of the copy, it would say of the page in a run.
    std::optional<CopyWarnings> copy_warnings;
    if (options.dry_run) copy_warnings.emplace(reporter, target, page);
    v.Filename(target);
    // The error list can hold a line for each of millions of repairs: it
    // is passed on as it grows.
    report.more_errors = std::make_shared<SpilledTexts>();
    v.ErrorList()->DrainTo([&](Variant entry) {
      std::string* const held = entry.get_if<std::string>();
      std::string text = held != nullptr ? std::move(*held) : entry.ToText();
      if (options.dry_run) ReplaceAll(text, target, page);
      report.more_errors->Add(std::move(text));
    });
    report.result = v.HTMLValidate();
    v.ErrorList()->DrainTo({});
  }
  const clsHTMLValidate::RunDetails& run = v.LastRun();
  report.summary = Summary(page, run, report.result, options.dry_run);
  if (!earlier_backup.empty()) report.summary = earlier_backup + "\n" + report.summary;
  const int32_t repairs = run.listed + run.Unlisted();
  report.stats = Json::object();
  report.stats["changed"] = report.result == 0 && !options.dry_run && repairs > 0;
  report.stats["repairs"] = repairs;
  report.stats["unlisted"] = run.Unlisted();
  if (!run.script_text_changes.empty()) {
    report.warnings.push_back(ScriptTextWarning(page, run.script_text_changes));
  }
  // A run without repairs rewrote the page byte for byte: no diff to run.
  if (options.diff && report.result == 0 && repairs > 0) {
    const std::string old_file = options.dry_run ? NativePath(page) : before;
    const std::string new_file = options.dry_run ? target : NativePath(page);
    std::string why;
    if (old_file.empty()) {
      diff->reset();  // the warning above says why
    } else {
      *diff = UnifiedDiff(old_file, new_file, page, folder->File("diff.err"), &why);
      if (!*diff) report.warnings.push_back(page + ": --diff: " + why);
    }
  }
  return report;
}

}  // namespace

std::optional<std::string> NormalizeTags(std::string_view text, std::string* why) {
  std::string table;
  std::set<std::string, std::less<>> names;
  while (!text.empty()) {
    const size_t comma = text.find(',');
    const std::string_view item = TrimBlanks(text.substr(0, comma));
    text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
    if (item.empty()) continue;
    const std::string quoted = "\"" + std::string(item) + "\"";
    const size_t bar = item.find('|');
    if (bar == std::string_view::npos) {
      *why = quoted + " is not NAME|FLAG";
      return std::nullopt;
    }
    const std::string name = AsciiUpperCopy(TrimBlanks(item.substr(0, bar)));
    const std::string_view flag = TrimBlanks(item.substr(bar + 1));
    const bool name_ok = !name.empty() && name[0] >= 'A' && name[0] <= 'Z' &&
                         std::all_of(name.begin(), name.end(), [](char c) {
                           return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
                         });
    if (!name_ok) {
      *why = quoted + ": a tag name is a letter followed by letters and digits";
      return std::nullopt;
    }
    if (flag != "0" && flag != "1") {
      *why = quoted +
             ": the flag is 0 (a start tag closes the open one of its kind) or 1 "
             "(the tag may nest in itself)";
      return std::nullopt;
    }
    if (!names.insert(name).second) {
      *why = name + " is given twice";
      return std::nullopt;
    }
    if (names.size() > static_cast<size_t>(clsHTMLValidate::kMaxTags)) {
      *why = "more than " + std::to_string(clsHTMLValidate::kMaxTags) + " tags";
      return std::nullopt;
    }
    table += name + "|" + std::string(flag) + ",";
  }
  return table;
}

namespace {

// The --tags text as the class reads it; nothing, reported on err, when it
// is refused. No text: the default table.
std::optional<std::optional<std::string>> ReadTagsOption(const std::optional<std::string>& text,
                                                         std::string_view command,
                                                         std::ostream& err) {
  if (!text) return std::optional<std::string>();
  std::string why;
  std::optional<std::string> table = NormalizeTags(*text, &why);
  if (!table) {
    err << "voktools " << command << ": --tags: " << why << '\n';
    return std::nullopt;
  }
  return table;
}

}  // namespace

EditedTags EditTags(const std::optional<std::string>& table, std::string_view command,
                    std::ostream& err) {
  clsHTMLValidate v;
  if (table) v.Tags(*table);
  EditedTags edited;
  auto unusable = [&](const std::string& why) {
    err << "voktools " << command << ": the edited table cannot be used: " << why << '\n';
    edited.status = kExitDataErr;
    return edited;
  };
  clsHTMLValidate::OptionsOutcome outcome;
  try {
    outcome = v.EditOptions();
  } catch (const AutomationError&) {
    // Every row the dialog gives back has its "|": the class is full.
    return unusable("more than " + std::to_string(clsHTMLValidate::kMaxTags) + " tags");
  }
  switch (outcome) {
    case clsHTMLValidate::OptionsOutcome::kNotShown:
      err << "voktools " << command
          << ": the options dialog needs a window system, and there is none here (set "
             "DISPLAY or WAYLAND_DISPLAY, or QT_QPA_PLATFORM)\n";
      edited.status = kExitUnavailable;
      return edited;
    case clsHTMLValidate::OptionsOutcome::kCancelled:
      edited.status = 1;
      return edited;
    case clsHTMLValidate::OptionsOutcome::kAccepted:
      break;
  }
  // What the dialog gives back is used only as --tags would take it.
  std::string why;
  std::optional<std::string> checked = NormalizeTags(v.Tags(), &why);
  if (!checked) return unusable(why);
  edited.accepted = true;
  edited.table = std::move(*checked);
  return edited;
}

int RunTags(const std::optional<std::string>& tags, bool edit, std::ostream& out,
            std::ostream& err) {
  std::optional<std::optional<std::string>> table = ReadTagsOption(tags, "tags", err);
  if (!table) return kExitUsage;
  std::string text = table->value_or(std::string(clsHTMLValidate::kDefaultTags));
  if (edit) {
    EditedTags edited = EditTags(*table, "tags", err);
    if (!edited.accepted) return edited.status;
    text = std::move(edited.table);
  }
  out << text << '\n';
  return 0;
}

int RunValidate(const ValidateOptions& options, Reporter& reporter, std::ostream& out,
                std::ostream& err) {
  std::optional<std::optional<std::string>> table = ReadTagsOption(options.tags, "validate", err);
  if (!table) return kExitUsage;
  ValidateOptions run = options;
  run.tags = *table;
  if (options.edit_tags) {
    EditedTags edited = EditTags(*table, "validate", err);
    if (edited.accepted) {
      run.tags = std::move(edited.table);
    } else if (edited.status != 1) {
      return edited.status;
    }
  }
  const std::string tags = run.tags.value_or(std::string());
  for (const std::string& page : options.files) {
    if (reporter.OutputFailed()) break;
    std::optional<std::string> diff;
    FileReport report = Process(page, run, tags, reporter, &diff);
    if (diff && options.json) {
      report.extra = Json::object();
      report.extra["diff"] = TextToJson(*diff);
    }
    reporter.Report(report);
    if (diff && !options.json && !diff->empty() && !reporter.OutputFailed()) {
      out << *diff;
      if (!FlushReport(out)) break;
    }
  }
  return reporter.ExitStatus();
}

}  // namespace vok::cli
