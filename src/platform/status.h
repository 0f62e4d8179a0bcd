// Outcome of a platform call: success, or the errno of the failure with the
// platform's own description of it (strerror).
#pragma once

#include <string>
#include <utility>

namespace vok {

class Status {
 public:
  Status() = default;
  static Status OK() { return Status(); }
  // errno value; the description is strerror's text for it.
  static Status FromErrno(int code);
  static Status Error(int code, std::string message) { return Status(code, std::move(message)); }

  bool ok() const { return code_ == 0; }
  int code() const { return code_; }
  const std::string& message() const { return message_; }

 private:
  Status(int code, std::string message) : code_(code), message_(std::move(message)) {}
  int code_ = 0;
  std::string message_;
};

}  // namespace vok
