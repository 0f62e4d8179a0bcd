// The line channel between the office library side and its worker process:
// one JSON object per line on a Unix stream socket.
#pragma once

#include <chrono>
#include <string>

namespace vok::office_channel {

using Clock = std::chrono::steady_clock;

enum class ReadResult { kLine, kEnd, kTimeout, kError };

// Bytes received on one socket, cut into lines.
class LineBuffer {
 public:
  // Takes the next complete line out of the buffer (without its '\n').
  bool TakeLine(std::string* line);
  void Append(const char* data, size_t size) { pending_.append(data, size); }

 private:
  std::string pending_;
};

// Reads from fd until a whole line is there, the peer closes, or the
// deadline passes.
ReadResult ReadLine(int fd, LineBuffer& buffer, Clock::time_point deadline, std::string* line);

// Writes text and a '\n' in full; false when the peer is gone or the
// deadline passes first. Never raises SIGPIPE.
bool WriteLine(int fd, const std::string& text, Clock::time_point deadline);

// The absolute file URL of an absolute path, with every byte outside the
// unreserved set and '/' percent-encoded.
std::string FileUrl(const std::string& absolute_path);

}  // namespace vok::office_channel
