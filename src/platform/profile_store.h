// Settings files in the INI format ("[section]" lines and "key=value" lines).
#pragma once

#include <string>

namespace vok {

class ProfileStore {
 public:
  virtual ~ProfileStore() = default;
  // The value of key in section of file, or default_value when the file,
  // section or key is missing. At most buffer_chars - 1 characters come back.
  virtual std::string GetString(const std::string& section, const std::string& key,
                                const std::string& default_value, const std::string& file,
                                size_t buffer_chars) = 0;
  // Sets key in section of file, creating what is missing. False on failure.
  virtual bool WriteString(const std::string& section, const std::string& key,
                           const std::string& value, const std::string& file) = 0;
};

}  // namespace vok
