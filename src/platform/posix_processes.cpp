#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <thread>

#include "platform/file_system.h"
#include "platform/processes.h"

extern char** environ;

namespace vok {

Status PosixProcesses::Start(const std::vector<std::string>& argv) {
  if (argv.empty() || argv[0].empty()) return Status::Error(ENOENT, "No program to start");
  const std::string program = NativePath(argv[0]);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid;
  const int rc = ::posix_spawn(&pid, program.c_str(), nullptr, nullptr, args.data(), environ);
  if (rc != 0) return Status::FromErrno(rc);
  // Not waited for by the caller; collected here so that it leaves no zombie.
  std::thread([pid] {
    int status;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
  return Status::OK();
}

}  // namespace vok
