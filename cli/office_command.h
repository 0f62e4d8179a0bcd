// `voktools doc2rtf|rtf2doc`: word-processor documents to RTF and back,
// converted by the office suite; several files run as one batch on one
// instance of it.
#pragma once

#include <string>
#include <vector>

#include "report.h"

namespace vok::cli {

// What to install when no office suite is on this machine.
inline constexpr const char* kOfficePackage = "libreoffice-writer";

struct OfficeOptions {
  std::vector<std::string> files;
  // --rtf (doc2rtf) or --doc (rtf2doc), with one file only; empty: each
  // file's default name.
  std::string target;
  bool force = false;  // an existing target may be replaced
};

// Converts every file in order and reports each; returns the exit status.
int RunDoc2Rtf(const OfficeOptions& options, Reporter& reporter);
int RunRtf2Doc(const OfficeOptions& options, Reporter& reporter);

}  // namespace vok::cli
