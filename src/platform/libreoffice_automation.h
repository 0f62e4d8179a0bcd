// Office automation on LibreOffice: each instance is a worker process of our
// own (voktools-office-worker) that drives the suite through LibreOfficeKit,
// so that a crash or a hang of the suite never takes the host down.
//
// Running instance: the one that `voktools office start` leaves running for
// this user, reached through the socket of its well-known folder
// (voktools-office-<uid> in $XDG_RUNTIME_DIR or the temporary folder).
// New instance: a private worker in a private folder, ending when its last
// object goes or when it is quit. Document of a file: a new instance with
// the file opened in it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

#include "platform/office_automation.h"

namespace vok {

// Automation errors of the office objects.
namespace office_err {
// The instance ended, or did not answer within the time limit.
inline constexpr int32_t kServerUnavailable = 462;
// The suite refused the request (the file did not load, the save failed).
inline constexpr int32_t kCommandFailed = 4198;
}  // namespace office_err

struct OfficeSettings {
  // The suite's program folder and the worker executable.
  std::string program_folder = "/usr/lib/libreoffice/program";
  std::string worker;
  // Where the instances' folders are made.
  std::string runtime_folder;
  // Every request must finish within this; the start of an instance within
  // this or kStartAllowance, whichever is longer.
  std::chrono::milliseconds time_limit = std::chrono::seconds(120);
  static constexpr std::chrono::seconds kStartAllowance{30};

  // From the environment: VOKTOOLS_OFFICE_TIMEOUT (seconds),
  // VOKTOOLS_OFFICE_WORKER, XDG_RUNTIME_DIR or TMPDIR.
  static OfficeSettings FromEnvironment();
};

// What `voktools office status` shows of the running instance.
struct OfficeInstanceInfo {
  pid_t pid = 0;
  std::string version;
  std::string folder;
  int documents = 0;
  int clients = 0;
};

class LibreOfficeAutomation : public OfficeAutomation {
 public:
  explicit LibreOfficeAutomation(OfficeSettings settings) : settings_(std::move(settings)) {}

  Status GetRunning(std::string_view class_name, ObjectRef* application) override;
  Status Create(std::string_view class_name, ObjectRef* application) override;
  Status GetFileObject(const std::string& path, ObjectRef* document) override;
  std::chrono::milliseconds TimeLimit() const override { return settings_.time_limit; }

  // The running instance for later commands: started, ended, described.
  // StartShared fails with EEXIST when one already runs; StopShared and
  // SharedInfo with ENOENT when none runs.
  Status StartShared(OfficeInstanceInfo* info);
  Status StopShared();
  Status SharedInfo(OfficeInstanceInfo* info);

  // The suite and the worker are on this machine; else why not, and what to
  // install.
  Status Available() const;
  // The folder of the running instance.
  std::string SharedFolder() const;
  const OfficeSettings& settings() const { return settings_; }

 private:
  OfficeSettings settings_;
  // The last instance Create started, which GetRunning finds while it runs
  // (as a running instance is found by its class).
  std::weak_ptr<class OfficeInstance> started_;
};

// The worker process behind an office object (application, Documents or
// document); 0 for other objects.
pid_t OfficeWorkerProcess(const Dispatch& object);

}  // namespace vok
