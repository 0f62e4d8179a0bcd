// `voktools lines`: reads files line by line and reports their line ends,
// optionally copying each one, line by line, into an output folder.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "report.h"

namespace vok::cli {

struct LinesOptions {
  std::vector<std::string> files;
  std::string out_dir;  // empty: no copies
  int32_t chunk = 4096;
};

struct LineCounts {
  int64_t lines = 0;  // the last line counts with or without a line end
  int64_t cr_lf = 0;
  int64_t lf = 0;
  int64_t cr = 0;
  int64_t lf_cr = 0;
  bool last_without_end = false;
  int64_t longest = 0;  // bytes, without the line end
  int64_t bytes = 0;

  // Counts one line as the reader cuts it (with its line end, if any).
  void Add(std::string_view line);
};

// "FILE: 3 lines (CR LF 1, LF 1, CR 0, LF CR 0), last line without line end:
// yes, longest 5 bytes, 12 bytes"
std::string Summary(std::string_view file, const LineCounts& counts);

// Processes every file and reports each; returns the exit status.
int RunLines(const LinesOptions& options, Reporter& reporter);

}  // namespace vok::cli
