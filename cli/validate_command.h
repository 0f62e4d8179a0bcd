// `voktools validate`: repairs HTML pages in place for translation tools and
// prints each page's report; `voktools tags` prints the default table of
// recognised tags.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "report.h"

namespace vok::cli {

struct ValidateOptions {
  std::vector<std::string> files;
  bool backup = false;
  std::optional<std::string> tags;  // none: the default table
  bool dry_run = false;             // validate a copy; the page stays as it is
};

// Validates every page in order, one object each; returns the exit status.
// A --tags text the table does not accept is a usage error (64), reported
// on err before any page is touched.
int RunValidate(const ValidateOptions& options, Reporter& reporter, std::ostream& err);

}  // namespace vok::cli
