// The calls a converter makes into an office application: a failing call
// does not end a step; it is remembered until the next Clear, and the step
// asks whether any call failed since.
#pragma once

#include <exception>
#include <string>

#include "platform/status.h"
#include "voktools/automation_error.h"
#include "voktools/dispatch.h"

namespace vok {

// The object a call answered; a call on it fails as a call on Nothing would.
inline ObjectRef Object(const Variant& value) {
  ObjectRef object = value.ToObject();
  if (!object) throw AutomationError(err::kObjectNotSet);
  return object;
}

inline Dispatch& On(const ObjectRef& object) {
  if (!object) throw AutomationError(err::kObjectNotSet);
  return *object;
}

// The title of the foreground window, at most 1023 characters; "*" when no
// window has the focus.
std::string ForegroundWindowTitle();

class OfficeCalls {
 public:
  // Runs call; false when it failed.
  template <typename Call>
  bool Run(Call&& call) {
    try {
      call();
      return true;
    } catch (const AutomationError& e) {
      Fail(e.description());
    } catch (const std::exception& e) {
      Fail(e.what());
    }
    return false;
  }
  // A platform answer: true when it succeeded and gave an object.
  bool Check(const Status& status, const ObjectRef& object) {
    if (status.ok() && object) return true;
    Fail(status.ok() ? AutomationError::StandardDescription(err::kObjectNotSet) : status.message());
    return false;
  }
  void Fail(const std::string& message) {
    if (!failed_) message_ = message;
    failed_ = true;
  }
  void Clear() {
    failed_ = false;
    message_.clear();
  }
  bool failed() const { return failed_; }
  // The first failure since the last Clear.
  const std::string& message() const { return message_; }

 private:
  bool failed_ = false;
  std::string message_;
};

}  // namespace vok
