#include "platform/office_channel.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace vok::office_channel {

namespace {

// Milliseconds left until deadline, for poll; 0 once it has passed.
int MillisecondsLeft(Clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return static_cast<int>(std::clamp<long long>(left, 0, 1 << 30));
}

// Waits for events on fd; false on timeout or error.
bool Wait(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    pollfd p{fd, events, 0};
    const int rc = ::poll(&p, 1, MillisecondsLeft(deadline));
    if (rc > 0) return true;
    if (rc == 0) return false;
    if (errno != EINTR) return false;
  }
}

}  // namespace

bool LineBuffer::TakeLine(std::string* line) {
  const size_t end = pending_.find('\n');
  if (end == std::string::npos) return false;
  line->assign(pending_, 0, end);
  pending_.erase(0, end + 1);
  return true;
}

ReadResult ReadLine(int fd, LineBuffer& buffer, Clock::time_point deadline, std::string* line) {
  char chunk[4096];
  while (!buffer.TakeLine(line)) {
    if (!Wait(fd, POLLIN, deadline)) {
      return Clock::now() >= deadline ? ReadResult::kTimeout : ReadResult::kError;
    }
    // read, not recv: the channel may be a pipe.
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n == 0) return ReadResult::kEnd;
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return errno == ECONNRESET ? ReadResult::kEnd : ReadResult::kError;
    }
    buffer.Append(chunk, static_cast<size_t>(n));
  }
  return ReadResult::kLine;
}

bool WriteLine(int fd, const std::string& text, Clock::time_point deadline) {
  const std::string data = text + '\n';
  size_t done = 0;
  while (done < data.size()) {
    if (!Wait(fd, POLLOUT, deadline)) return false;
    const ssize_t n = ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

std::string FileUrl(const std::string& absolute_path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string url = "file://";
  for (const char c : absolute_path) {
    const auto b = static_cast<unsigned char>(c);
    const bool plain = (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9') ||
                       b == '-' || b == '.' || b == '_' || b == '~' || b == '/';
    if (plain) {
      url += c;
    } else {
      url += '%';
      url += kHex[b >> 4];
      url += kHex[b & 15];
    }
  }
  return url;
}

}  // namespace vok::office_channel
