// Runs the voktools command as a child process (argument vector, no shell)
// with unnamed in-memory files as its standard streams, so that it never
// waits on the test; and the table cases of the commands.
#pragma once

#include <sys/types.h>

#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "json_text.h"
#include "support/scratch_dir.h"

namespace vok::test {

struct RunResult {
  int status;  // 128 + signal when killed
  std::string out, err;
};

// `voktools args...` started with input on its standard input; stdout_fd and
// stderr_fd, when given, take the place of the captured outputs.
class ChildProcess {
 public:
  explicit ChildProcess(const std::vector<std::string>& args, std::string_view input = {},
                        int stdout_fd = -1, int stderr_fd = -1);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  // Waits for the end. A child still running after 10 s is killed (status
  // 137), so a hang fails instead of hanging.
  RunResult Finish();

 private:
  pid_t pid_ = -1;
  int out_ = -1, err_ = -1;
};

inline RunResult RunCli(const std::vector<std::string>& args, std::string_view input = {}) {
  return ChildProcess(args, input).Finish();
}

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
  std::string out;         // standard output; one beginning "..." need only hold the rest
  Expected after;
  std::string err = {};    // a text standard error holds; empty: not checked
  std::string input = {};  // standard input of the last run
};

inline void PrintTo(const CommandCase& c, std::ostream* os) { *os << c.name; }

// Runs the case and checks it with gtest expectations.
void CheckCommandCase(const CommandCase& c);

// Each line of text parsed as JSON.
std::vector<cli::Json> JsonLines(const std::string& text);

}  // namespace vok::test
