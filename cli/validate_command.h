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
};

// The table a --tags text stands for, as the class reads it ("NAME|FLAG,"
// per item): names in upper case, spaces around names and flags and empty
// items dropped, the last item's "," added. Nothing, with the reason in
// *why, for an item without "|", a name that is empty or not letters and
// digits, a flag other than 0 or 1, a name given twice or more than 128
// items.
std::optional<std::string> NormalizeTags(std::string_view text, std::string* why);

// Validates every page in order, one object each; returns the exit status.
// A --tags text that NormalizeTags refuses is a usage error (64), reported
// on err before any page is touched. With --diff, each page's changes follow
// its report on out as a unified diff (in JSON mode, its "diff" member).
int RunValidate(const ValidateOptions& options, Reporter& reporter, std::ostream& out,
                std::ostream& err);

}  // namespace vok::cli
