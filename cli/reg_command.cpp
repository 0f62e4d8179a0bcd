#include "reg_command.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <iostream>
#include <iterator>
#include <limits>

#include "common/replacement_file.h"
#include "file_guard.h"
#include "platform/env.h"
#include "reg_file.h"
#include "report.h"
#include "voktools/ascii.h"
#include "voktools/collection.h"

namespace vok::cli {

namespace {

constexpr uint32_t kQword = 11;

struct TypeNames {
  uint32_t type;
  std::string_view name;
};

constexpr TypeNames kTypeNames[] = {
    {reg::kNone, "REG_NONE"},
    {reg::kSz, "REG_SZ"},
    {reg::kExpandSz, "REG_EXPAND_SZ"},
    {reg::kBinary, "REG_BINARY"},
    {reg::kDword, "REG_DWORD"},
    {reg::kDwordBigEndian, "REG_DWORD_BIG_ENDIAN"},
    {reg::kLink, "REG_LINK"},
    {reg::kMultiSz, "REG_MULTI_SZ"},
    {8, "REG_RESOURCE_LIST"},
    {9, "REG_FULL_RESOURCE_DESCRIPTOR"},
    {10, "REG_RESOURCE_REQUIREMENTS_LIST"},
    {kQword, "REG_QWORD"},
};

// The types reg add writes.
constexpr uint32_t kAddTypes[] = {reg::kSz,     reg::kExpandSz,       reg::kMultiSz,
                                  reg::kDword,  reg::kDwordBigEndian, reg::kBinary,
                                  reg::kNone,   kQword};

int Fail(std::ostream& err, const std::string& what, int status = kRegFailed) {
  err << "voktools reg: " << what << '\n';
  return status;
}

std::string Quoted(std::string_view name) { return "\"" + std::string(name) + "\""; }

std::string ValueLabel(std::string_view name) {
  return name.empty() ? "(Default)" : std::string(name);
}

// The text of a REG_SZ: up to its NUL.
std::string_view TextPart(std::string_view data) { return data.substr(0, data.find('\0')); }

// The strings of a REG_MULTI_SZ, up to the empty one that ends the list.
std::vector<std::string_view> MultiStrings(std::string_view data) {
  std::vector<std::string_view> strings;
  while (!data.empty()) {
    const size_t nul = std::min(data.find('\0'), data.size());
    if (nul == 0) break;
    strings.push_back(data.substr(0, nul));
    data.remove_prefix(std::min(nul + 1, data.size()));
  }
  return strings;
}

// A number of size bytes, little-endian unless big_endian; nothing when the
// data has another length.
std::optional<uint64_t> Number(std::string_view data, size_t size, bool big_endian) {
  if (data.size() != size) return std::nullopt;
  uint64_t n = 0;
  for (size_t i = 0; i < size; ++i) {
    n = n << 8 | static_cast<unsigned char>(data[big_endian ? i : size - 1 - i]);
  }
  return n;
}

std::optional<uint64_t> NumberOf(const RegistryValue& value) {
  switch (value.type) {
    case reg::kDword: return Number(value.data, 4, false);
    case reg::kDwordBigEndian: return Number(value.data, 4, true);
    case kQword: return Number(value.data, 8, false);
    default: return std::nullopt;
  }
}

// A decimal or 0x-hex number up to max.
std::optional<uint64_t> ParseNumber(std::string_view text, uint64_t max) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  uint64_t n = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n, base);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || n > max) {
    return std::nullopt;
  }
  return n;
}

std::optional<RegKeyName> KeyOrUsage(const std::string& name, std::ostream& err) {
  std::string why;
  std::optional<RegKeyName> key = ParseKeyName(name, &why);
  if (!key) Fail(err, name + ": " + why, kExitUsage);
  return key;
}

// The key of the options when it exists; otherwise the message is on err
// and *status is the exit status.
std::optional<RegKeyName> ExistingKey(const RegOptions& options, Registry& registry,
                                      std::ostream& err, int* status) {
  std::optional<RegKeyName> key = KeyOrUsage(options.key, err);
  if (!key) {
    *status = kExitUsage;
  } else if (Status s = registry.OpenKey(key->root, key->path); !s.ok()) {
    *status = Fail(err, FullKeyName(key->root, key->path) + ": " + s.message());
    key.reset();
  }
  return key;
}

// Applies change to the key named full and says what was done.
int ApplyChange(Registry& registry, const RegistryChange& change, const std::string& full,
                const std::string& done, std::ostream& out, std::ostream& err) {
  if (Status s = registry.Apply({change}); !s.ok()) return Fail(err, full + ": " + s.message());
  out << full << ": " << done << '\n';
  return 0;
}

// Shows a key, its values and its subkeys (or, recursively, the subkeys'
// own), as text or one JSON line per key.
class QueryRun {
 public:
  QueryRun(const RegOptions& options, Registry& registry, std::ostream& out)
      : options_(options), registry_(registry), out_(out) {}

  Status Show(uint32_t root, const std::string& path) {
    std::vector<RegistryValue> values;
    std::vector<std::string> subkeys;
    Status s = registry_.ListValues(root, path, &values);
    if (s.ok()) s = registry_.ListSubkeys(root, path, &subkeys);
    if (!s.ok()) return s;
    const std::string full = FullKeyName(root, path);
    auto child = [&path](const std::string& name) {
      return path.empty() ? name : path + "\\" + name;
    };
    if (options_.json) {
      Json line = Json::object();
      line["key"] = TextToJson(full);
      line["values"] = Json::array();
      for (const RegistryValue& v : values) line["values"].push_back(RegValueJson(v));
      line["subkeys"] = Json::array();
      for (const std::string& name : subkeys) line["subkeys"].push_back(TextToJson(name));
      out_ << DumpLine(line) << '\n';
    } else {
      out_ << full << '\n';
      for (const RegistryValue& v : values) out_ << ValueLine(v);
      out_ << '\n';
      if (!options_.recursive) {
        for (const std::string& name : subkeys) out_ << FullKeyName(root, child(name)) << '\n';
      }
    }
    if (options_.recursive) {
      for (const std::string& name : subkeys) {
        if (s = Show(root, child(name)); !s.ok()) return s;
      }
    }
    return Status::OK();
  }

  void ShowValue(const std::string& full, const RegistryValue& value) {
    if (options_.json) {
      Json line = Json::object();
      line["key"] = TextToJson(full);
      line["values"] = Json::array({RegValueJson(value)});
      out_ << DumpLine(line) << '\n';
    } else {
      out_ << full << '\n' << ValueLine(value);
    }
  }

 private:
  static std::string ValueLine(const RegistryValue& v) {
    return "    " + ValueLabel(v.name) + "    " + RegTypeName(v.type) + "    " + ShownData(v) +
           "\n";
  }

  const RegOptions& options_;
  Registry& registry_;
  std::ostream& out_;
};

}  // namespace

std::string RegTypeName(uint32_t type) {
  for (const TypeNames& t : kTypeNames) {
    if (t.type == type) return std::string(t.name);
  }
  char number[16];
  std::snprintf(number, sizeof number, "0x%x", type);
  return number;
}

std::string ShownData(const RegistryValue& value) {
  if (std::optional<uint64_t> n = NumberOf(value)) {
    char number[24];
    std::snprintf(number, sizeof number, value.type == kQword ? "0x%llx" : "0x%08llx",
                  static_cast<unsigned long long>(*n));
    return number;
  }
  switch (value.type) {
    case reg::kSz:
    case reg::kExpandSz:
      return std::string(TextPart(value.data));
    case reg::kMultiSz: {
      std::string shown;
      for (std::string_view s : MultiStrings(value.data)) {
        if (!shown.empty()) shown += "\\0";
        shown += s;
      }
      return shown;
    }
    default:
      return ToHex(value.data);
  }
}

Json RegValueJson(const RegistryValue& value) {
  Json j = Json::object();
  j["name"] = TextToJson(value.name);
  j["type"] = RegTypeName(value.type);
  j["type_number"] = value.type;
  if (std::optional<uint64_t> n = NumberOf(value)) {
    j["data"] = *n;
  } else if (value.type == reg::kSz || value.type == reg::kExpandSz) {
    j["data"] = TextToJson(TextPart(value.data));
  } else if (value.type == reg::kMultiSz) {
    j["data"] = Json::array();
    for (std::string_view s : MultiStrings(value.data)) j["data"].push_back(TextToJson(s));
  } else {
    j["data"] = ToHex(value.data);
  }
  j["hex"] = ToHex(value.data);
  return j;
}

std::optional<RegistryValue> ValueFromOptions(const RegOptions& options, std::string name,
                                              std::string* why) {
  RegistryValue value;
  value.name = std::move(name);
  bool known = false;
  for (uint32_t type : kAddTypes) {
    if (EqualsIgnoreCase(options.type, RegTypeName(type))) {
      value.type = type;
      known = true;
    }
  }
  if (!known) {
    *why = "--type: \"" + options.type + "\" is none of";
    for (uint32_t type : kAddTypes) *why += " " + RegTypeName(type);
    return std::nullopt;
  }
  const std::string data = options.data.value_or("");
  switch (value.type) {
    case reg::kSz:
    case reg::kExpandSz:
      value.data = data + '\0';
      return value;
    case reg::kMultiSz:
      if (options.separator.empty()) {
        *why = "--separator cannot be empty";
        return std::nullopt;
      }
      for (size_t start = 0; !data.empty();) {
        const size_t end = std::min(data.find(options.separator, start), data.size());
        if (end == start) {
          *why = "--data: a REG_MULTI_SZ cannot hold an empty string (it would end the list)";
          return std::nullopt;
        }
        value.data.append(data, start, end - start).push_back('\0');
        if (end == data.size()) break;
        start = end + options.separator.size();
      }
      value.data += '\0';
      return value;
    case reg::kDword:
    case reg::kDwordBigEndian:
    case kQword: {
      const size_t size = value.type == kQword ? 8 : 4;
      const uint64_t max = size == 8 ? std::numeric_limits<uint64_t>::max() : 0xFFFFFFFFu;
      std::optional<uint64_t> n = options.data ? ParseNumber(data, max) : 0;
      if (!n) {
        *why = "--data: \"" + data + "\" is not a number (decimal or 0x-hex) that " +
               RegTypeName(value.type) + " holds";
        return std::nullopt;
      }
      for (size_t i = 0; i < size; ++i) {
        const size_t shift = 8 * (value.type == reg::kDwordBigEndian ? size - 1 - i : i);
        value.data += static_cast<char>(*n >> shift & 0xFF);
      }
      return value;
    }
    default:
      if (std::optional<std::string> bytes = FromHex(data)) {
        value.data = std::move(*bytes);
        return value;
      }
      *why = "--data: " + RegTypeName(value.type) + " data is hex digits, two per byte";
      return std::nullopt;
  }
}

int RunRegQuery(const RegOptions& options, Registry& registry, std::ostream& out,
                std::ostream& err) {
  int status = 0;
  std::optional<RegKeyName> key = ExistingKey(options, registry, err, &status);
  if (!key) return status;
  const std::string full = FullKeyName(key->root, key->path);
  key->path = StoredPath(registry, *key);
  const std::string shown = FullKeyName(key->root, key->path);
  QueryRun run(options, registry, out);
  if (options.value) {
    RegistryValue value;
    Status s = registry.QueryValue(key->root, key->path, *options.value, &value);
    if (!s.ok()) return Fail(err, full + ": value " + Quoted(ValueLabel(*options.value)) + ": " + s.message());
    run.ShowValue(shown, value);
    return 0;
  }
  Status s = run.Show(key->root, key->path);
  return s.ok() ? 0 : Fail(err, full + ": " + s.message());
}

int RunRegAdd(const RegOptions& options, Registry& registry, std::ostream& out,
              std::ostream& err) {
  std::optional<RegKeyName> key = KeyOrUsage(options.key, err);
  if (!key) return kExitUsage;
  const std::string full = FullKeyName(key->root, key->path);
  RegistryChange change;
  change.root = key->root;
  change.path = key->path;
  std::string done;
  if (!options.value) {
    if (options.data) return Fail(err, "--data needs --value or --default", kExitUsage);
    change.kind = RegistryChange::Kind::kCreateKey;
    done = registry.OpenKey(key->root, key->path).ok() ? "the key exists already"
                                                        : "key created";
  } else {
    std::string why;
    std::optional<RegistryValue> value = ValueFromOptions(options, *options.value, &why);
    if (!value) return Fail(err, why, kExitUsage);
    RegistryValue old;
    Status s = registry.QueryValue(key->root, key->path, value->name, &old);
    if (s.ok() && !options.force) {
      return Fail(err,
                  full + ": value " + Quoted(ValueLabel(old.name)) +
                      " exists already; not replaced (--force replaces it)",
                  kExitCantCreate);
    }
    if (!s.ok() && s.code() != ENOENT) return Fail(err, full + ": " + s.message());
    change.kind = RegistryChange::Kind::kSetValue;
    done = "value " + Quoted(ValueLabel(value->name)) + " set (" + RegTypeName(value->type) + ")";
    change.value = std::move(*value);
  }
  return ApplyChange(registry, change, full, done, out, err);
}

int RunRegDelete(const RegOptions& options, Registry& registry, std::ostream& out,
                 std::ostream& err) {
  int status = 0;
  std::optional<RegKeyName> key = ExistingKey(options, registry, err, &status);
  if (!key) return status;
  const std::string full = FullKeyName(key->root, key->path);
  RegistryChange change;
  change.root = key->root;
  change.path = key->path;
  std::string done;
  if (options.value) {
    RegistryValue old;
    Status s = registry.QueryValue(key->root, key->path, *options.value, &old);
    if (!s.ok()) {
      return Fail(err, full + ": value " + Quoted(ValueLabel(*options.value)) + ": " + s.message());
    }
    change.kind = RegistryChange::Kind::kDeleteValue;
    change.value.name = old.name;
    done = "value " + Quoted(ValueLabel(old.name)) + " deleted";
  } else {
    if (key->path.empty()) return Fail(err, full + ": a root key cannot be deleted");
    change.kind = RegistryChange::Kind::kDeleteTree;
    done = "key deleted with its subkeys and values";
  }
  return ApplyChange(registry, change, full, done, out, err);
}

int RunRegExport(const RegOptions& options, Registry& registry, std::ostream& out,
                 std::ostream& err) {
  int status = 0;
  std::optional<RegKeyName> key = ExistingKey(options, registry, err, &status);
  if (!key) return status;
  const std::string full = FullKeyName(key->root, key->path);
  const bool to_out = options.file == "-";
  if (!to_out) {
    OutputCheck check;
    check.force = options.force;
    check.what = "registry file";
    if (std::optional<Refusal> refusal = RefuseOutput(options.file, check, RunOutputs())) {
      return Fail(err, refusal->message, kExitCantCreate);
    }
  }
  std::string text;
  RegExportCounts counts;
  if (Status s = ExportRegText(registry, *key, &text, &counts); !s.ok()) {
    return Fail(err, s.message());
  }
  if (to_out) {
    out << text;
    return 0;
  }
  ReplacementFile file;
  Status s = file.Start(CurrentEnv(), options.file);
  if (s.ok()) s = file.file().Append(text);
  if (s.ok()) s = file.Close();
  if (!s.ok()) return Fail(err, options.file + ": cannot write: " + s.message());
  auto errors = Collection::Create();
  if (file.Commit(Variant(errors)) != 0) {
    std::string why;
    for (const std::string& e : errors->Texts()) why += (why.empty() ? "" : "; ") + e;
    return Fail(err, options.file + ": cannot write: " + why);
  }
  out << options.file << ": " << counts.keys << " key(s) and " << counts.values
      << " value(s) of " << full << " exported\n";
  return 0;
}

int RunRegImport(const RegOptions& options, Registry& registry, std::istream& in,
                 std::ostream& out, std::ostream& err) {
  std::string bytes;
  if (options.file == "-") {
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  } else if (std::optional<std::string> why = NotRegularInput(options.file)) {
    return Fail(err, options.file + ": cannot read: " + *why);
  } else if (Status s = ReadWholeFile(*CurrentEnv().fs, options.file, &bytes); !s.ok()) {
    return Fail(err, options.file + ": cannot read: " + s.message());
  }
  std::vector<RegistryChange> changes;
  RegFileError error;
  if (!ParseRegFile(bytes, &changes, &error)) {
    return Fail(err, options.file + ": line " + std::to_string(error.line) + ": " + error.reason +
                         "; nothing was imported");
  }
  if (Status s = registry.Apply(changes); !s.ok()) {
    return Fail(err, options.file + ": " + s.message() + "; nothing was imported");
  }
  int64_t keys = 0, values = 0, deletions = 0;
  for (const RegistryChange& c : changes) {
    switch (c.kind) {
      case RegistryChange::Kind::kCreateKey: ++keys; break;
      case RegistryChange::Kind::kSetValue: ++values; break;
      default: ++deletions; break;
    }
  }
  out << options.file << ": imported " << keys << " key(s), " << values << " value(s), "
      << deletions << " deletion(s)\n";
  return 0;
}

}  // namespace vok::cli
