#include "office_instance_command.h"

#include <cerrno>
#include <nlohmann/json.hpp>
#include <ostream>

#include "platform/libreoffice_automation.h"

namespace vok::cli {

namespace {

void Print(const OfficeInstanceOptions& options, const char* state, const OfficeInstanceInfo* info,
           std::ostream& out) {
  if (options.json) {
    nlohmann::json line{{"state", state}};
    if (info != nullptr) {
      line.update({{"pid", info->pid},
                   {"version", info->version},
                   {"folder", info->folder},
                   {"documents", info->documents},
                   {"clients", info->clients}});
    }
    out << line.dump() << '\n';
    return;
  }
  out << "office instance " << state;
  if (info != nullptr) {
    out << ": process " << info->pid << ", LibreOffice " << info->version << ", " << info->documents
        << " document(s) open, " << info->clients << " other client(s), in " << info->folder;
  }
  out << '\n';
}

}  // namespace

int RunOfficeInstance(const OfficeInstanceOptions& options, LibreOfficeAutomation& office,
                      std::ostream& out, std::ostream& err) {
  OfficeInstanceInfo info;
  if (options.action == "status") {
    const Status s = office.SharedInfo(&info);
    if (s.ok()) {
      Print(options, "running", &info, out);
      return 0;
    }
    if (s.code() != ENOENT) {
      err << "voktools: the office instance does not answer: " << s.message() << '\n';
      return 1;
    }
    Print(options, "not running", nullptr, out);
    return kOfficeNotRunning;
  }
  if (options.action == "start") {
    const Status s = office.StartShared(&info);
    if (s.ok() || s.code() == EEXIST) {
      Print(options, s.ok() ? "started" : "already running", &info, out);
      return 0;
    }
    err << "voktools: cannot start the office instance: " << s.message() << '\n';
    return 1;
  }
  const Status s = office.StopShared();
  if (s.ok() || s.code() == ENOENT) {
    Print(options, s.ok() ? "stopped" : "not running", nullptr, out);
    return 0;
  }
  err << "voktools: cannot stop the office instance: " << s.message() << '\n';
  return 1;
}

}  // namespace vok::cli
