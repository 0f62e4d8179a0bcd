// `voktools reg`: shows and changes the keys and values of the registry
// store, and writes and reads them as registry files.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "json_text.h"
#include "platform/registry.h"

namespace vok::cli {

// The result of a reg command that failed: a missing key or value, a
// malformed registry file, a file or store that could not be read or
// written.
inline constexpr int kRegFailed = 1;

struct RegOptions {
  std::string key;
  std::optional<std::string> value;  // a value's name; "" is the default value
  bool recursive = false;
  bool json = false;
  std::string type = "REG_SZ";
  std::optional<std::string> data;
  std::string separator = "\\0";  // between the strings of a REG_MULTI_SZ
  bool force = false;
  std::string file;  // "-": standard output (export) or input (import)
};

// Each prints its report on out and its errors on err ("voktools reg:
// ..."), and returns the exit status: 0, kRegFailed, 64 for a key name or
// data that cannot be, 73 for what is not replaced without --force.
int RunRegQuery(const RegOptions& options, Registry& registry, std::ostream& out,
                std::ostream& err);
int RunRegAdd(const RegOptions& options, Registry& registry, std::ostream& out, std::ostream& err);
int RunRegDelete(const RegOptions& options, Registry& registry, std::ostream& out,
                 std::ostream& err);
int RunRegExport(const RegOptions& options, Registry& registry, std::ostream& out,
                 std::ostream& err);
int RunRegImport(const RegOptions& options, Registry& registry, std::istream& in,
                 std::ostream& out, std::ostream& err);

// "REG_SZ" and the other names of types; "0x..." for a number without one.
std::string RegTypeName(uint32_t type);

// The data as registry editors show it: a text up to its NUL, a REG_MULTI_SZ
// as its strings joined by "\0", a REG_DWORD (also big-endian) as 0x%08x, a
// REG_QWORD as 0x%x, anything else as hex bytes.
std::string ShownData(const RegistryValue& value);

// {"name":..,"type":"REG_SZ","type_number":1,"data":..,"hex":".."}: data is
// a text (JSON string, or {"hex":..} when not UTF-8), an array of texts for
// REG_MULTI_SZ, a number for a REG_DWORD or REG_QWORD, else hex digits;
// "hex" always has every byte.
Json RegValueJson(const RegistryValue& value);

// The value --type and --data describe, named name; nothing with the reason
// in *why when the type is unknown or the data does not fit it.
std::optional<RegistryValue> ValueFromOptions(const RegOptions& options, std::string name,
                                              std::string* why);

}  // namespace vok::cli
