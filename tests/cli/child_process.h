// Runs the voktools command as a child process (argument vector, no shell)
// with pipes on its standard streams.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vok::test {

class ChildProcess {
 public:
  // args excludes the program; stderr_fd and stdout_fd, when given, become
  // the child's standard error and output instead of pipes.
  explicit ChildProcess(const std::vector<std::string>& args, int stderr_fd = -1,
                        int stdout_fd = -1);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  void Write(std::string_view bytes);
  // Ends the child at once (SIGKILL), as a crash would.
  void Kill();
  void CloseInput();
  // The next line of standard output without its LF; nothing at the end of
  // output or after 10 s without one.
  std::optional<std::string> ReadLine();
  // Closes the input, reads both outputs to their end and waits: the exit
  // status (128 + signal when killed). A child that goes 10 s without
  // output or end is killed (status 137), so a hang fails instead of hanging.
  int Finish(std::string* out = nullptr, std::string* err = nullptr);

 private:
  pid_t pid_ = -1;
  int in_ = -1, out_ = -1, err_ = -1;
  std::string pending_;
};

struct RunResult {
  int status;
  std::string out, err;
};
// Runs `voktools args...` with input on its standard input.
RunResult RunCli(const std::vector<std::string>& args, std::string_view input = {});

}  // namespace vok::test
