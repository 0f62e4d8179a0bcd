// A registry store's content as text, for comparing two stores or one store
// before and after.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace vok::test {

// Every key below root\path with its values, one line per value (name, type
// and data as hex) in the store's order, subkeys in name order.
inline std::string DumpRegistry(Registry& r, uint32_t root, const std::string& path) {
  auto hex = [](const std::string& bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char b : bytes) out += {kDigits[b >> 4], kDigits[b & 15]};
    return out;
  };
  std::string out = "[" + path + "]\n";
  std::vector<RegistryValue> values;
  std::vector<std::string> subkeys;
  EXPECT_TRUE(r.ListValues(root, path, &values).ok());
  EXPECT_TRUE(r.ListSubkeys(root, path, &subkeys).ok());
  for (const RegistryValue& v : values) {
    out += hex(v.name) + " " + std::to_string(v.type) + " " + hex(v.data) + "\n";
  }
  for (const std::string& name : subkeys) {
    out += DumpRegistry(r, root, path.empty() ? name : path + "\\" + name);
  }
  return out;
}

}  // namespace vok::test
