// `voktools unc`: the network form of paths (a drive letter through the
// drive map, or an absolute path on a network mount), and with --reverse
// the local path where a network name is mounted here.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace vok::cli {

// The result of a path that has no network form (or, reversed, no local
// path); it is printed as given and the reason goes to standard error.
inline constexpr int kUncUnresolved = 1;

struct UncOptions {
  std::vector<std::string> paths;
  bool use_share = false;
  bool json = false;
  bool reverse = false;
};

// Prints one line per path on out (the name found, or the path as given),
// or one JSON object per path and line; reasons and warnings on err.
// Returns 0 when every path was resolved, else kUncUnresolved.
int RunUnc(const UncOptions& options, std::ostream& out, std::ostream& err);

}  // namespace vok::cli
