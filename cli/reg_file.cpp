#include "reg_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "json_text.h"
#include "voktools/ascii.h"

namespace vok::cli {

namespace {

struct RootNames {
  uint32_t root;
  std::string_view name;
  std::string_view abbreviation;
};

constexpr RootNames kRoots[] = {
    {reg::kLocalMachine, "HKEY_LOCAL_MACHINE", "HKLM"},
    {reg::kCurrentUser, "HKEY_CURRENT_USER", "HKCU"},
    {reg::kClassesRoot, "HKEY_CLASSES_ROOT", "HKCR"},
    {reg::kUsers, "HKEY_USERS", "HKU"},
};

// A hex line is cut after the comma that reaches this column; the line then
// ends in '\' and the next one starts with two spaces.
constexpr size_t kWrapColumn = 77;

constexpr std::string_view kBlank = " \t";

std::string_view TrimLeft(std::string_view s) {
  const size_t start = s.find_first_not_of(kBlank);
  return start == std::string_view::npos ? std::string_view() : s.substr(start);
}

std::string_view TrimRight(std::string_view s) {
  const size_t end = s.find_last_not_of(kBlank);
  return end == std::string_view::npos ? std::string_view() : s.substr(0, end + 1);
}

bool HasLineEnd(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

void AppendQuoted(std::string_view text, std::string* out) {
  *out += '"';
  for (char c : text) {
    if (c == '\\' || c == '"') *out += '\\';
    *out += c;
  }
  *out += '"';
}

// Whether the quoted form gives back exactly these bytes: one terminating
// NUL, no other NUL and no line end.
bool IsQuotableText(std::string_view data) {
  return !data.empty() && data.find('\0') == data.size() - 1 && !HasLineEnd(data);
}

void AppendValue(const RegistryValue& value, std::string* out) {
  std::string line;
  if (value.name.empty()) {
    line = "@";
  } else {
    AppendQuoted(value.name, &line);
  }
  line += '=';
  if (value.type == reg::kSz && IsQuotableText(value.data)) {
    AppendQuoted(std::string_view(value.data).substr(0, value.data.size() - 1), &line);
    *out += line + "\r\n";
    return;
  }
  char number[32];
  if (value.type == reg::kDword && value.data.size() == 4) {
    uint32_t dword = 0;
    for (int i = 3; i >= 0; --i) dword = dword << 8 | static_cast<unsigned char>(value.data[i]);
    std::snprintf(number, sizeof number, "dword:%08x", dword);
    *out += line + number + "\r\n";
    return;
  }
  if (value.type == reg::kBinary) {
    line += "hex:";
  } else {
    std::snprintf(number, sizeof number, "hex(%x):", value.type);
    line += number;
  }
  size_t column = line.size();
  for (size_t i = 0; i < value.data.size(); ++i) {
    line += ToHex(std::string_view(value.data).substr(i, 1));
    column += 2;
    if (i + 1 == value.data.size()) break;
    line += ',';
    if (++column >= kWrapColumn) {
      line += "\\\r\n  ";
      column = 2;
    }
  }
  *out += line + "\r\n";
}

Status ExportKey(Registry& registry, uint32_t root, const std::string& path, std::string* text,
                 RegExportCounts* counts) {
  const std::string full = FullKeyName(root, path);
  auto unwritable = [&full](std::string_view what) {
    return Status::Error(EINVAL, full + ": " + std::string(what) +
                                     " holds a line end, which a registry file cannot carry");
  };
  if (HasLineEnd(path)) return unwritable("the key name");
  std::vector<RegistryValue> values;
  if (Status s = registry.ListValues(root, path, &values); !s.ok()) return s;
  *text += "[" + full + "]\r\n";
  ++counts->keys;
  for (const RegistryValue& value : values) {
    if (HasLineEnd(value.name)) return unwritable("the name of a value");
    AppendValue(value, text);
    ++counts->values;
  }
  *text += "\r\n";
  std::vector<std::string> subkeys;
  if (Status s = registry.ListSubkeys(root, path, &subkeys); !s.ok()) return s;
  for (const std::string& name : subkeys) {
    Status s = ExportKey(registry, root, path.empty() ? name : path + "\\" + name, text, counts);
    if (!s.ok()) return s;
  }
  return Status::OK();
}

void AppendUtf8(uint32_t code, std::string* out) {
  if (code < 0x80) {
    *out += static_cast<char>(code);
  } else if (code < 0x800) {
    *out += static_cast<char>(0xC0 | code >> 6);
    *out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    *out += static_cast<char>(0xE0 | code >> 12);
    *out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
    *out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | code >> 18);
    *out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
    *out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
    *out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// UTF-16 after its byte order mark, as UTF-8.
bool DecodeUtf16(std::string_view bytes, bool little_endian, std::string* text,
                 RegFileError* error) {
  int64_t line = 1;
  auto fail = [&](const char* reason) {
    *error = {line, reason};
    return false;
  };
  if (bytes.size() % 2 != 0) return fail("the UTF-16 text ends in half a character");
  auto unit = [&](size_t i) -> uint32_t {
    const auto a = static_cast<unsigned char>(bytes[i]), b = static_cast<unsigned char>(bytes[i + 1]);
    return little_endian ? (b << 8 | a) : (a << 8 | b);
  };
  text->clear();
  text->reserve(bytes.size() / 2);
  for (size_t i = 0; i < bytes.size(); i += 2) {
    uint32_t code = unit(i);
    if (code >= 0xDC00 && code <= 0xDFFF) return fail("a UTF-16 low surrogate without its high one");
    if (code >= 0xD800 && code <= 0xDBFF) {
      const uint32_t low = i + 2 < bytes.size() ? unit(i + 2) : 0;
      if (low < 0xDC00 || low > 0xDFFF) return fail("a UTF-16 high surrogate without its low one");
      code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
      i += 2;
    }
    if (code == '\n') ++line;
    AppendUtf8(code, text);
  }
  return true;
}

// Reads the lines of a registry file into changes.
class RegFileParser {
 public:
  RegFileParser(std::string_view text, std::vector<RegistryChange>* changes, RegFileError* error)
      : text_(text), changes_(changes), error_(error) {}

  bool Parse() {
    std::string_view line;
    if (!NextLine(&line) || (TrimRight(line) != kRegHeader && TrimRight(line) != kRegHeader4)) {
      line_ = 1;
      return Fail(std::string("not a registry file: the first line is not \"") +
                  std::string(kRegHeader) + "\" or \"" + std::string(kRegHeader4) + "\"");
    }
    while (NextLine(&line)) {
      line = TrimLeft(line);
      if (line.empty() || line[0] == ';' || line[0] == '#') continue;
      if (line[0] == '[') {
        if (!KeyLine(TrimRight(line))) return false;
      } else if (skipping_) {
        // The values of a deleted key are passed over.
      } else if (line[0] == '@' || line[0] == '"') {
        if (!have_key_) return Fail("a value before any [KEY] line");
        if (!ValueLine(line)) return false;
      } else {
        return Fail("not a key, a value or a comment");
      }
    }
    return true;
  }

 private:
  // The next line without its line end; false at the end of the text.
  bool NextLine(std::string_view* line) {
    if (pos_ >= text_.size()) return false;
    size_t end = text_.find('\n', pos_);
    if (end == std::string_view::npos) end = text_.size();
    *line = text_.substr(pos_, end - pos_);
    if (!line->empty() && line->back() == '\r') line->remove_suffix(1);
    pos_ = end + 1;
    ++line_;
    return true;
  }

  bool Fail(std::string reason) {
    *error_ = {line_, std::move(reason)};
    return false;
  }

  bool KeyLine(std::string_view line) {
    if (line.size() < 2 || line.back() != ']') return Fail("the key name has no closing ']'");
    std::string_view inner = line.substr(1, line.size() - 2);
    const bool remove = !inner.empty() && inner[0] == '-';
    if (remove) inner.remove_prefix(1);
    std::string why;
    std::optional<RegKeyName> key = ParseKeyName(inner, &why);
    if (!key) return Fail(why);
    if (remove && key->path.empty()) return Fail("a root key cannot be deleted");
    RegistryChange change;
    change.kind = remove ? RegistryChange::Kind::kDeleteTree : RegistryChange::Kind::kCreateKey;
    change.root = key->root;
    change.path = key->path;
    changes_->push_back(std::move(change));
    key_ = std::move(*key);
    have_key_ = true;
    skipping_ = remove;
    return true;
  }

  // A text in quotes from line[*i], with \\ and \" for \ and "; *i is put
  // after the closing quote. False when there is none.
  static bool Unquote(std::string_view line, size_t* i, std::string* out) {
    for (size_t j = *i + 1; j < line.size(); ++j) {
      const char c = line[j];
      if (c == '"') {
        *i = j + 1;
        return true;
      }
      if (c == '\\' && j + 1 < line.size() && (line[j + 1] == '\\' || line[j + 1] == '"')) ++j;
      *out += line[j];
    }
    return false;
  }

  // The digits of a number of 1 to 8 hex digits.
  static std::optional<uint32_t> HexNumber(std::string_view digits) {
    if (digits.empty() || digits.size() > 8) return std::nullopt;
    uint32_t n = 0;
    for (char c : digits) {
      const int v = HexValue(c);
      if (v < 0) return std::nullopt;
      n = n << 4 | static_cast<uint32_t>(v);
    }
    return n;
  }

  bool ValueLine(std::string_view line) {
    RegistryChange change;
    change.kind = RegistryChange::Kind::kSetValue;
    change.root = key_.root;
    change.path = key_.path;
    RegistryValue& value = change.value;
    size_t i = 1;  // after '@', the default value's name
    if (line[0] == '"') {
      i = 0;
      if (!Unquote(line, &i, &value.name)) return Fail("the value name has no closing quote");
    }
    std::string_view rest = TrimLeft(line.substr(i));
    if (rest.empty() || rest[0] != '=') return Fail("'=' is missing after the value name");
    rest = TrimRight(TrimLeft(rest.substr(1)));
    if (rest == "-") {
      change.kind = RegistryChange::Kind::kDeleteValue;
    } else if (!rest.empty() && rest[0] == '"') {
      size_t end = 0;
      if (!Unquote(rest, &end, &value.data)) return Fail("the text has no closing quote");
      if (end != rest.size()) return Fail("something follows the text's closing quote");
      value.type = reg::kSz;
      value.data += '\0';
    } else if (EqualsIgnoreCase(rest.substr(0, 6), "dword:")) {
      std::optional<uint32_t> n = HexNumber(rest.substr(6));
      if (!n) return Fail("dword: needs 1 to 8 hex digits");
      value.type = reg::kDword;
      for (int b = 0; b < 4; ++b) value.data += static_cast<char>(*n >> (8 * b) & 0xFF);
    } else if (EqualsIgnoreCase(rest.substr(0, 3), "hex")) {
      rest.remove_prefix(3);
      value.type = reg::kBinary;
      if (!rest.empty() && rest[0] == '(') {
        const size_t close = rest.find(')');
        std::optional<uint32_t> type =
            close == std::string_view::npos ? std::nullopt : HexNumber(rest.substr(1, close - 1));
        if (!type) return Fail("hex(N): N is not a hex number of 1 to 8 digits");
        value.type = *type;
        rest.remove_prefix(close + 1);
      }
      if (rest.empty() || rest[0] != ':') return Fail("':' is missing after hex");
      if (!HexBytes(rest.substr(1), &value.data)) return false;
    } else {
      return Fail("the data is none of \"text\", dword:, hex:, hex(N): and -");
    }
    changes_->push_back(std::move(change));
    return true;
  }

  // Bytes as hex pairs separated by commas, continued on the next lines
  // while a line ends in '\'. A fault is reported at the value's first line.
  bool HexBytes(std::string_view first, std::string* data) {
    const int64_t first_line = line_;
    std::string all(TrimRight(first));
    std::string_view next;
    while (!all.empty() && all.back() == '\\' && NextLine(&next)) {
      all.pop_back();
      all += TrimRight(TrimLeft(next));
    }
    if (!all.empty() && all.back() == '\\') all.pop_back();
    std::string_view rest = TrimRight(all);
    if (rest.empty()) return true;
    for (size_t start = 0;;) {
      const size_t comma = std::min(rest.find(',', start), rest.size());
      const std::string_view pair = TrimRight(TrimLeft(rest.substr(start, comma - start)));
      std::optional<uint32_t> byte = pair.size() <= 2 ? HexNumber(pair) : std::nullopt;
      if (!byte) {
        line_ = first_line;
        return Fail("\"" + std::string(pair) + "\" is not a hex byte");
      }
      *data += static_cast<char>(*byte);
      if (comma == rest.size()) return true;
      start = comma + 1;
    }
  }

  std::string_view text_;
  std::vector<RegistryChange>* changes_;
  RegFileError* error_;
  size_t pos_ = 0;
  int64_t line_ = 0;
  RegKeyName key_;
  bool have_key_ = false;
  bool skipping_ = false;  // after [-KEY], up to the next key
};

}  // namespace

std::optional<RegKeyName> ParseKeyName(std::string_view name, std::string* why) {
  const size_t slash = name.find('\\');
  const std::string_view root = name.substr(0, slash);
  RegKeyName key;
  for (const RootNames& r : kRoots) {
    if (EqualsIgnoreCase(root, r.name) || EqualsIgnoreCase(root, r.abbreviation)) key.root = r.root;
  }
  if (key.root == 0) {
    *why = "\"" + std::string(root) +
           "\" is not a root key (HKEY_LOCAL_MACHINE or HKLM, HKEY_CURRENT_USER or HKCU, "
           "HKEY_CLASSES_ROOT or HKCR, HKEY_USERS or HKU)";
    return std::nullopt;
  }
  if (slash == std::string_view::npos) return key;
  key.path = name.substr(slash + 1);
  if (key.path.size() > reg::kMaxPath) {
    *why = "the key's path is longer than " + std::to_string(reg::kMaxPath) + " bytes";
    return std::nullopt;
  }
  for (size_t start = 0;;) {
    const size_t end = std::min(key.path.find('\\', start), key.path.size());
    if (end == start) {
      *why = "the key name has an empty part (\\ at the end or twice in a row)";
      return std::nullopt;
    }
    if (end - start > reg::kMaxPart) {
      *why = "a part of the key name is longer than " + std::to_string(reg::kMaxPart) + " bytes";
      return std::nullopt;
    }
    if (end == key.path.size()) return key;
    start = end + 1;
  }
}

std::string_view RootName(uint32_t root) {
  for (const RootNames& r : kRoots) {
    if (r.root == root) return r.name;
  }
  return "?";
}

std::string FullKeyName(uint32_t root, std::string_view path) {
  std::string name(RootName(root));
  if (!path.empty()) name += "\\" + std::string(path);
  return name;
}

std::string StoredPath(Registry& registry, const RegKeyName& key) {
  std::string stored;
  std::vector<std::string> subkeys;
  for (size_t start = 0; start < key.path.size();) {
    const size_t end = std::min(key.path.find('\\', start), key.path.size());
    const std::string_view part = std::string_view(key.path).substr(start, end - start);
    if (!registry.ListSubkeys(key.root, stored, &subkeys).ok()) return key.path;
    auto found = std::find_if(subkeys.begin(), subkeys.end(),
                              [part](const std::string& name) { return EqualsIgnoreCase(name, part); });
    if (found == subkeys.end()) return key.path;
    stored += (stored.empty() ? "" : "\\") + *found;
    start = end + 1;
  }
  return stored;
}

Status ExportRegText(Registry& registry, const RegKeyName& key, std::string* text,
                     RegExportCounts* counts) {
  *text = std::string(kRegHeader) + "\r\n\r\n";
  *counts = {};
  return ExportKey(registry, key.root, StoredPath(registry, key), text, counts);
}

bool ParseRegFile(std::string_view bytes, std::vector<RegistryChange>* changes,
                  RegFileError* error) {
  changes->clear();
  std::string decoded;
  std::string_view text = bytes;
  if (text.starts_with("\xEF\xBB\xBF")) {
    text.remove_prefix(3);
  } else if (text.starts_with("\xFF\xFE") || text.starts_with("\xFE\xFF")) {
    if (!DecodeUtf16(text.substr(2), text[0] == '\xFF', &decoded, error)) return false;
    text = decoded;
  }
  return RegFileParser(text, changes, error).Parse();
}

}  // namespace vok::cli
