// `voktools validate`: repairs HTML pages in place for translation tools and
// prints each page's report; `voktools tags` prints the default table of
// recognised tags.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "report.h"

namespace vok::cli {

struct ValidateOptions {
  std::vector<std::string> files;
  bool backup = false;
  std::optional<std::string> tags;  // none: the default table
  bool dry_run = false;             // validate a copy; the page stays as it is
  bool diff = false;                // print each change as a unified diff
  bool keep_script_text = false;    // SCRIPT and STYLE content stays as it is
  bool json = false;                // the reports are JSON: a diff goes into them
  bool edit_tags = false;           // the table is edited in the options dialog first
};

// The options dialog on a table (the default one when none), for a command
// named command. Accepted: the edited table, checked as --tags is read.
// Not accepted: how the run ends, with the reason on err: 1 when the user
// cancelled, kExitUnavailable without a window system, kExitDataErr when
// the edited table is not one --tags would take.
struct EditedTags {
  bool accepted = false;
  int status = 0;
  std::string table;
};
EditedTags EditTags(const std::optional<std::string>& table, std::string_view command,
                    std::ostream& err);

// `voktools tags [--edit] [--tags LIST]`: prints the table (the default, or
// LIST as read by --tags), after editing it in the dialog with --edit;
// nothing when the dialog was cancelled. Returns the exit status.
int RunTags(const std::optional<std::string>& tags, bool edit, std::ostream& out,
            std::ostream& err);

// The table a --tags text stands for, as the class reads it ("NAME|FLAG,"
// per item): names in upper case, spaces around names and flags and empty
// items dropped, the last item's "," added. Nothing, with the reason in
// *why, for an item without "|", a name that is empty or not letters and
// digits, a flag other than 0 or 1, a name given twice or more than 128
// items.
std::optional<std::string> NormalizeTags(std::string_view text, std::string* why);

// Validates every page in order, one object each; returns the exit status.
// A --tags text that NormalizeTags refuses is a usage error (64), reported
// on err before any page is touched. With edit_tags the table is edited
// first (a cancelled dialog leaves it as it was). With --diff, each page's changes follow
// its report on out as a unified diff (in JSON mode, its "diff" member).
int RunValidate(const ValidateOptions& options, Reporter& reporter, std::ostream& out,
                std::ostream& err);

}  // namespace vok::cli
