// `voktools office start|stop|status`: the office instance that this user
// keeps running for many conversions in a row.
#pragma once

#include <iosfwd>
#include <string>

namespace vok {
class LibreOfficeAutomation;
}

namespace vok::cli {

// `status` when no instance runs.
inline constexpr int kOfficeNotRunning = 3;

struct OfficeInstanceOptions {
  std::string action;  // start, stop or status
  bool json = false;
};

// start: starts the instance unless one runs; stop: ends it, if one runs;
// status: describes it. Returns 0, 1 when the suite is missing or the
// instance could not be started or stopped (why on err), or
// kOfficeNotRunning from status when none runs.
int RunOfficeInstance(const OfficeInstanceOptions& options, LibreOfficeAutomation& office,
                      std::ostream& out, std::ostream& err);

}  // namespace vok::cli
