// A registry store in memory whose calls can be made to fail.
#pragma once

#include <cerrno>
#include <set>
#include <string>

#include "platform/sqlite_registry.h"

namespace vok::test {

class FaultRegistry : public Registry {
 public:
  enum Op { kOpen, kCreate, kDeleteKey, kQuery, kSet, kDeleteValue, kListValues, kListSubkeys, kApply };

  // Calls of the operations in failing fail with error (EIO: a store that
  // cannot be read or written).
  std::set<Op> failing;
  Status error = Status::Error(EIO, "Registry store: disk I/O error");

  Status OpenKey(uint32_t root, std::string_view path) override {
    return Fail(kOpen) ? error : store_.OpenKey(root, path);
  }
  Status CreateKey(uint32_t root, std::string_view path) override {
    return Fail(kCreate) ? error : store_.CreateKey(root, path);
  }
  Status DeleteKey(uint32_t root, std::string_view path) override {
    return Fail(kDeleteKey) ? error : store_.DeleteKey(root, path);
  }
  Status QueryValue(uint32_t root, std::string_view path, std::string_view name,
                    RegistryValue* value) override {
    return Fail(kQuery) ? error : store_.QueryValue(root, path, name, value);
  }
  Status SetValue(uint32_t root, std::string_view path, const RegistryValue& value) override {
    return Fail(kSet) ? error : store_.SetValue(root, path, value);
  }
  Status DeleteValue(uint32_t root, std::string_view path, std::string_view name) override {
    return Fail(kDeleteValue) ? error : store_.DeleteValue(root, path, name);
  }
  Status ListValues(uint32_t root, std::string_view path,
                    std::vector<RegistryValue>* values) override {
    return Fail(kListValues) ? error : store_.ListValues(root, path, values);
  }
  Status ListSubkeys(uint32_t root, std::string_view path,
                     std::vector<std::string>* names) override {
    return Fail(kListSubkeys) ? error : store_.ListSubkeys(root, path, names);
  }
  Status Apply(const std::vector<RegistryChange>& changes) override {
    return Fail(kApply) ? error : store_.Apply(changes);
  }

 private:
  bool Fail(Op op) const { return failing.count(op) > 0; }
  SqliteRegistry store_{":memory:"};
};

}  // namespace vok::test
