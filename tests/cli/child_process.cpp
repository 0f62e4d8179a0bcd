#include "cli/child_process.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace vok::test {

namespace {

// An unnamed in-memory file holding bytes, read from its start.
int MemoryFile(std::string_view bytes = {}) {
  const int fd = ::memfd_create("voktools-test", MFD_CLOEXEC);
  if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
    throw std::runtime_error("memfd_create or write failed");
  }
  ::lseek(fd, 0, SEEK_SET);
  return fd;
}

// All that fd holds; closes it.
std::string Drain(int fd) {
  std::string bytes;
  if (fd < 0) return bytes;
  char chunk[65536];
  ::lseek(fd, 0, SEEK_SET);
  for (ssize_t n; (n = ::read(fd, chunk, sizeof chunk)) > 0;) bytes.append(chunk, size_t(n));
  ::close(fd);
  return bytes;
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& args, std::string_view input,
                           int stdout_fd, int stderr_fd) {
  const int in = MemoryFile(input);
  if (stdout_fd < 0) stdout_fd = out_ = MemoryFile();
  if (stderr_fd < 0) stderr_fd = err_ = MemoryFile();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in, 0);
  posix_spawn_file_actions_adddup2(&actions, stdout_fd, 1);
  posix_spawn_file_actions_adddup2(&actions, stderr_fd, 2);
  std::vector<std::string> words{VOK_CLI_PATH};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  const int rc = ::posix_spawn(&pid_, VOK_CLI_PATH, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(in);
  if (rc != 0) throw std::runtime_error("posix_spawn failed");
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0) ::kill(pid_, SIGKILL);
  if (pid_ > 0) Finish();
}

RunResult ChildProcess::Finish() {
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (::waitpid(pid_, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) ::kill(pid_, SIGKILL);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  pid_ = -1;
  RunResult r{WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), Drain(out_),
              Drain(err_)};
  out_ = err_ = -1;
  return r;
}

std::string InDir(std::string s, const ScratchDir& dir) {
  for (size_t p; (p = s.find("$DIR/")) != std::string::npos;) s.replace(p, 5, dir.path());
  return s;
}

std::vector<std::string> Args(const std::string& words, const ScratchDir& dir) {
  std::vector<std::string> args;
  std::istringstream in(words);
  for (std::string w; in >> w;) args.push_back(InDir(w, dir));
  return args;
}

std::vector<cli::Json> JsonLines(const std::string& text) {
  std::vector<cli::Json> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(cli::Json::parse(line));
  return lines;
}

void CheckCommandCase(const CommandCase& c) {
  ScratchDir dir;
  for (const auto& [name, bytes] : c.before) {
    if (name.ends_with('/')) {
      std::filesystem::create_directory(dir / name);
    } else {
      WriteFile(dir / name, bytes);
    }
  }
  RunResult r{};
  for (size_t i = 0; i < c.runs.size(); ++i) {
    r = RunCli(Args(c.runs[i], dir), i + 1 == c.runs.size() ? InDir(c.input, dir) : "");
  }
  EXPECT_EQ(r.status, c.status) << r.err;
  if (c.out.starts_with("...")) {
    EXPECT_NE(r.out.find(InDir(c.out.substr(3), dir)), std::string::npos) << r.out;
  } else {
    EXPECT_EQ(r.out, InDir(c.out, dir));
  }
  if (!c.err.empty()) {
    EXPECT_NE(r.err.find(InDir(c.err, dir)), std::string::npos) << r.err;
  }
  for (const auto& [name, bytes] : c.after) {
    if (bytes) {
      EXPECT_EQ(ReadFile(dir / name), *bytes) << name;
    } else {
      EXPECT_FALSE(Exists(dir / name)) << name;
    }
  }
}

}  // namespace vok::test
