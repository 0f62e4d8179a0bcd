// An error that reaches the host as a failed automation call: the runtime's
// error number and its description.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "voktools/export.h"

namespace vok {
VOK_PUBLIC_BEGIN

namespace err {
inline constexpr int32_t kInvalidCall = 5;
inline constexpr int32_t kOverflow = 6;
inline constexpr int32_t kSubscript = 9;
inline constexpr int32_t kTypeMismatch = 13;
inline constexpr int32_t kBadFileNumber = 52;
inline constexpr int32_t kFileNotFound = 53;
inline constexpr int32_t kDeviceIO = 57;
inline constexpr int32_t kBadRecordNumber = 63;
inline constexpr int32_t kPermissionDenied = 70;
inline constexpr int32_t kObjectNotSet = 91;
inline constexpr int32_t kResourceNotFound = 326;
inline constexpr int32_t kObjectRequired = 424;
inline constexpr int32_t kCannotCreateObject = 429;
inline constexpr int32_t kNotSupported = 438;
inline constexpr int32_t kActionNotSupported = 445;
inline constexpr int32_t kArgumentNotOptional = 449;
inline constexpr int32_t kWrongArgumentCount = 450;
}  // namespace err

class AutomationError : public std::runtime_error {
 public:
  // The runtime's standard description for number.
  explicit AutomationError(int32_t number);
  AutomationError(int32_t number, std::string description);

  int32_t number() const { return number_; }
  const std::string& description() const { return description_; }

  // The runtime's description of an error number ("Application-defined or
  // object-defined error" for numbers it does not know).
  static std::string StandardDescription(int32_t number);

 private:
  int32_t number_;
  std::string description_;
};

VOK_PUBLIC_END

}  // namespace vok
