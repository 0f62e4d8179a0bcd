// Runs the voktools command as a child process (argument vector, no shell)
// with pipes on its standard streams, and the table cases of the commands.
#pragma once

#include <sys/types.h>

#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "support/scratch_dir.h"

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
  // Closes the input, reads both outputs to their end and waits: the exit
  // status (128 + signal when killed). A child that goes 10 s without
  // output or end is killed (status 137), so a hang fails instead of hanging.
  int Finish(std::string* out = nullptr, std::string* err = nullptr);

 private:
  pid_t pid_ = -1;
  int in_ = -1, out_ = -1, err_ = -1;
};

struct RunResult {
  int status;
  std::string out, err;
};
// Runs `voktools args...` with input on its standard input.
RunResult RunCli(const std::vector<std::string>& args, std::string_view input = {});

// "$DIR/" in s replaced by the scratch folder.
std::string InDir(std::string s, const ScratchDir& dir);
// words split at spaces, each with InDir.
std::vector<std::string> Args(const std::string& words, const ScratchDir& dir);

// Name in the scratch folder: bytes; a name ending in '/' is a folder.
using Files = std::map<std::string, std::string>;
using Expected = std::map<std::string, std::optional<std::string>>;  // nullopt: absent

// Files in a scratch folder, one or more runs of the command, and what the
// last run printed and left. "$DIR/" in arguments and texts stands for the
// scratch folder.
struct CommandCase {
  std::string name;
  Files before;
  std::vector<std::string> runs;  // in order, split at spaces; the last one is checked
  int status;
  std::string out;
  Expected after;
  std::string err = {};    // a text standard error holds; empty: not checked
  std::string input = {};  // standard input of the last run
};

inline void PrintTo(const CommandCase& c, std::ostream* os) { *os << c.name; }

// Runs the case and checks it with gtest expectations.
void CheckCommandCase(const CommandCase& c);

}  // namespace vok::test
