// A registry store in memory whose calls can be made to fail.
#pragma once

#include <cerrno>
#include <string>

#include "platform/sqlite_registry.h"

namespace vok::test {

class FaultRegistry : public Registry {
 public:
  // While failing, every call fails with error (EIO: a store that cannot be
  // read or written).
  bool failing = false;
  Status error = Status::Error(EIO, "Registry store: disk I/O error");

  Status OpenKey(uint32_t root, std::string_view path) override {
    return failing ? error : store_.OpenKey(root, path);
  }
  Status CreateKey(uint32_t root, std::string_view path) override {
    return failing ? error : store_.CreateKey(root, path);
  }
  Status DeleteKey(uint32_t root, std::string_view path) override {
    return failing ? error : store_.DeleteKey(root, path);
  }
  Status QueryValue(uint32_t root, std::string_view path, std::string_view name,
                    RegistryValue* value) override {
    return failing ? error : store_.QueryValue(root, path, name, value);
  }
  Status SetValue(uint32_t root, std::string_view path, const RegistryValue& value) override {
    return failing ? error : store_.SetValue(root, path, value);
  }
  Status DeleteValue(uint32_t root, std::string_view path, std::string_view name) override {
    return failing ? error : store_.DeleteValue(root, path, name);
  }
  Status ListValues(uint32_t root, std::string_view path,
                    std::vector<RegistryValue>* values) override {
    return failing ? error : store_.ListValues(root, path, values);
  }
  Status ListSubkeys(uint32_t root, std::string_view path,
                     std::vector<std::string>* names) override {
    return failing ? error : store_.ListSubkeys(root, path, names);
  }
  Status Apply(const std::vector<RegistryChange>& changes) override {
    return failing ? error : store_.Apply(changes);
  }

 private:
  SqliteRegistry store_{":memory:"};
};

}  // namespace vok::test
