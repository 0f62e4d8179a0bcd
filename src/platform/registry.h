// A hierarchical key/value store with the roots, value types and results of
// a Windows registry.
//
// Keys are named by a root (one of the four root handle values) and a path
// whose parts are separated by '\' only. An empty part, a part over 255
// characters or a path over 512 characters names no key. Key and value
// names compare without regard to ASCII case and keep the case they were
// created with. HKEY_CLASSES_ROOT is a view of
// HKEY_LOCAL_MACHINE\SOFTWARE\Classes. A root itself (the empty path)
// always exists.
//
// Failures carry an errno-style code: ENOENT for a key or value that does
// not exist, EINVAL for a path or root that names no key, ENOTEMPTY for a
// key with subkeys, others (EIO, EACCES, EBUSY...) from the store.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace vok {

namespace reg {

constexpr uint32_t kClassesRoot = 0x80000000u;
constexpr uint32_t kCurrentUser = 0x80000001u;
constexpr uint32_t kLocalMachine = 0x80000002u;
constexpr uint32_t kUsers = 0x80000003u;

constexpr uint32_t kNone = 0;
constexpr uint32_t kSz = 1;
constexpr uint32_t kExpandSz = 2;
constexpr uint32_t kBinary = 3;
constexpr uint32_t kDword = 4;
constexpr uint32_t kDwordBigEndian = 5;
constexpr uint32_t kLink = 6;
constexpr uint32_t kMultiSz = 7;

constexpr size_t kMaxPart = 255;
constexpr size_t kMaxPath = 512;

}  // namespace reg

// A value: its type number (any 32-bit number) and its bytes, exactly as
// written. A text's bytes include its terminating NUL.
struct RegistryValue {
  std::string name;
  uint32_t type = reg::kNone;
  std::string data;
};

// The first four bytes of data as a 32-bit number, the first byte the least
// significant (or, big_endian, the most); missing bytes count as 0.
inline int32_t RegistryDword(std::string_view data, bool big_endian) {
  uint32_t v = 0;
  for (size_t i = 0; i < 4; ++i) {
    const uint32_t byte = i < data.size() ? static_cast<uint8_t>(data[i]) : 0;
    v |= byte << (big_endian ? 24 - 8 * i : 8 * i);
  }
  return static_cast<int32_t>(v);
}

// One change of a batch (see Registry::Apply).
struct RegistryChange {
  enum class Kind {
    kCreateKey,    // the key and any missing key above it
    kDeleteTree,   // the key with all its subkeys and values; none is fine
    kSetValue,     // creates the key when it is missing
    kDeleteValue,  // a missing value or key is fine
  };
  Kind kind = Kind::kCreateKey;
  uint32_t root = 0;
  std::string path;
  RegistryValue value;  // the name alone for kDeleteValue
};

class Registry {
 public:
  virtual ~Registry() = default;

  // OK when the key exists.
  virtual Status OpenKey(uint32_t root, std::string_view path) = 0;
  // Creates the key and any missing key above it; OK when it exists.
  virtual Status CreateKey(uint32_t root, std::string_view path) = 0;
  // Deletes a key without subkeys (its values go with it).
  virtual Status DeleteKey(uint32_t root, std::string_view path) = 0;
  // The value named name of an existing key (the empty name is the key's
  // default value).
  virtual Status QueryValue(uint32_t root, std::string_view path, std::string_view name,
                            RegistryValue* value) = 0;
  // Sets a value of an existing key, keeping its place in the order of
  // values when it exists already.
  virtual Status SetValue(uint32_t root, std::string_view path, const RegistryValue& value) = 0;
  virtual Status DeleteValue(uint32_t root, std::string_view path, std::string_view name) = 0;
  // The values of a key in the order they were created.
  virtual Status ListValues(uint32_t root, std::string_view path,
                            std::vector<RegistryValue>* values) = 0;
  // The names of a key's subkeys in name order (ASCII case not counted).
  virtual Status ListSubkeys(uint32_t root, std::string_view path,
                             std::vector<std::string>* names) = 0;
  // All the changes or none of them, in order.
  virtual Status Apply(const std::vector<RegistryChange>& changes) = 0;
};

}  // namespace vok
