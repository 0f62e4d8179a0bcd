// `voktools rtf extract|insert`: moves the object and picture groups of RTF
// files into object files, leaving placeholders, and puts them back.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "report.h"
#include "voktools/rtf_util.h"

namespace vok::cli {

// Results of the command besides the class's 0 to 7 (and kExitCantCreate
// for an extraction whose object file may not be replaced).
// The operation succeeded but its new text could not replace the RTF file,
// which is as it was.
inline constexpr int kRtfNotReplaced = 9;

struct RtfOptions {
  std::vector<std::string> files;
  std::string obj_file;  // empty: each file's folder and name with ".obj"
  bool force = false;    // extraction: an existing object file may be replaced
};

using PlaceholderScan = clsRTFUtil::PlaceholderScan;

// Whether the file holds the start of a placeholder, "{\v\vok OBJ ", read
// chunk bytes at a time (the message of a refused extraction says so).
PlaceholderScan ScanForPlaceholders(const std::string& path, size_t chunk = 64 * 1024);

// Processes every file in order and reports each; returns the exit status.
int RunRtfExtract(const RtfOptions& options, Reporter& reporter);
int RunRtfInsert(const RtfOptions& options, Reporter& reporter);

}  // namespace vok::cli
