// `voktools asp2html` and `voktools html2asp`: move the server blocks and
// script elements of pages into script files, leaving placeholder comments,
// and put them back.
#pragma once

#include <string>
#include <vector>

#include "report.h"

namespace vok::cli {

struct AspOptions {
  std::vector<std::string> files;
  // Empty: derived by the class from the file processed.
  std::string asp_file;  // html2asp: the page written
  std::string htm_file;  // asp2html: the HTML written
  std::string scr_file;  // the script file
  bool force = false;    // asp2html: existing outputs may be replaced
};

// Processes every file in order, one object each, and reports each; returns
// the exit status.
int RunAsp2Html(const AspOptions& options, Reporter& reporter);
int RunHtml2Asp(const AspOptions& options, Reporter& reporter);

}  // namespace vok::cli
