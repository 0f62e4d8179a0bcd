#include "cli/child_process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace vok::test {

namespace {

constexpr int kTimeoutMs = 10000;

void Pipe(int fds[2]) {
  if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
}

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

// Appends what fd has to buf; false at its end (or on timeout).
bool ReadSome(int fd, std::string& buf) {
  pollfd p{fd, POLLIN, 0};
  if (::poll(&p, 1, kTimeoutMs) <= 0) return false;
  char chunk[4096];
  ssize_t n = ::read(fd, chunk, sizeof chunk);
  if (n <= 0) return false;
  buf.append(chunk, static_cast<size_t>(n));
  return true;
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& args, int stderr_fd, int stdout_fd) {
  // A child that exits early must not take the test down with SIGPIPE.
  ::signal(SIGPIPE, SIG_IGN);
  int in[2], out[2] = {-1, -1}, err[2] = {-1, -1};
  Pipe(in);
  if (stdout_fd < 0) Pipe(out);
  if (stderr_fd < 0) Pipe(err);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, stdout_fd >= 0 ? stdout_fd : out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, stderr_fd >= 0 ? stderr_fd : err[1], 2);
  std::vector<std::string> argv_strings{VOK_CLI_PATH};
  argv_strings.insert(argv_strings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argv_strings) argv.push_back(a.data());
  argv.push_back(nullptr);
  int rc = ::posix_spawn(&pid_, VOK_CLI_PATH, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(in[0]);
  if (out[1] >= 0) ::close(out[1]);
  if (err[1] >= 0) ::close(err[1]);
  in_ = in[1];
  out_ = out[0];
  err_ = err[0];
  if (rc != 0) throw std::runtime_error("posix_spawn failed");
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    Finish();
  }
}

void ChildProcess::Kill() {
  if (pid_ > 0) ::kill(pid_, SIGKILL);
}

void ChildProcess::Write(std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(in_, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw std::runtime_error("write to the child failed");
    bytes.remove_prefix(static_cast<size_t>(n));
  }
}

int ChildProcess::Finish(std::string* out, std::string* err) {
  CloseFd(in_);
  std::string o, e;
  // Both outputs at once: a child blocked on a full pipe would never end.
  while (out_ >= 0 || err_ >= 0) {
    pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
    if (::poll(fds, 2, kTimeoutMs) <= 0) {
      ::kill(pid_, SIGKILL);
      break;
    }
    if (fds[0].revents != 0 && !ReadSome(out_, o)) CloseFd(out_);
    if (fds[1].revents != 0 && !ReadSome(err_, e)) CloseFd(err_);
  }
  CloseFd(out_);
  CloseFd(err_);
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
  if (out) *out = o;
  if (err) *err = e;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

RunResult RunCli(const std::vector<std::string>& args, std::string_view input) {
  ChildProcess child(args);
  child.Write(input);
  RunResult r{};
  r.status = child.Finish(&r.out, &r.err);
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
  EXPECT_EQ(r.out, InDir(c.out, dir));
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
