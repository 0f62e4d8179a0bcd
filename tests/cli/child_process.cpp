#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
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

void ChildProcess::CloseInput() { CloseFd(in_); }

std::optional<std::string> ChildProcess::ReadLine() {
  size_t lf;
  while ((lf = pending_.find('\n')) == std::string::npos) {
    if (!ReadSome(out_, pending_)) return std::nullopt;
  }
  std::string line = pending_.substr(0, lf);
  pending_.erase(0, lf + 1);
  return line;
}

int ChildProcess::Finish(std::string* out, std::string* err) {
  CloseInput();
  std::string o = std::move(pending_), e;
  pending_.clear();
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

}  // namespace vok::test
