// Starting programs.
#pragma once

#include <string>
#include <vector>

#include "platform/status.h"

namespace vok {

class Processes {
 public:
  virtual ~Processes() = default;
  // Starts argv[0] with the arguments argv, directly (no shell), and does
  // not wait for it.
  virtual Status Start(const std::vector<std::string>& argv) = 0;
};

// With posix_spawn; the program's name passes through NativePath. A thread
// of the process collects each started program when it ends.
class PosixProcesses : public Processes {
 public:
  Status Start(const std::vector<std::string>& argv) override;
};

}  // namespace vok
