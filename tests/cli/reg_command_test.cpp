// `voktools reg`: the store's keys and values shown, changed, and carried
// through registry files.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <random>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include "cli/child_process.h"
#include "json_text.h"
#include "platform/sqlite_registry.h"
#include "reg_command.h"
#include "reg_file.h"
#include "support/registry_dump.h"

namespace vok::cli {
namespace {

using std::string_literals::operator""s;

struct RegRun {
  int status;
  std::string out, err;
};

// One reg command in-process; file "-" reads input.
template <typename Command>
RegRun RunReg(Command command, RegOptions options, Registry& r, const std::string& input = {}) {
  std::ostringstream out, err;
  std::istringstream in(input);
  int status;
  if constexpr (std::is_invocable_v<Command, const RegOptions&, Registry&, std::istream&,
                                    std::ostream&, std::ostream&>) {
    status = command(options, r, in, out, err);
  } else {
    status = command(options, r, out, err);
  }
  return {status, out.str(), err.str()};
}

RegOptions Key(const std::string& key, const std::string& file = "-") {
  RegOptions o;
  o.key = key;
  o.file = file;
  return o;
}

// A random tree below HKCU\T: names with the characters the file format
// escapes or could trip over, non-ASCII bytes, every kind of data
// (also texts the quoted form cannot carry, and long binary data).
std::vector<RegistryChange> RandomTree(uint32_t seed) {
  std::mt19937 rng(seed);
  auto pick = [&rng](int n) { return static_cast<int>(rng() % static_cast<uint32_t>(n)); };
  const std::string odd[] = {"\"", "\\", "=", "[", "]", "@", "-", ";", " ", "\xC3\xA9", "\xFF", "a", "B"};
  auto name = [&](bool allow_backslash) {
    std::string s;
    for (int n = pick(6); n > 0; --n) {
      std::string piece = odd[pick(std::size(odd))];
      if (piece == "\\" && !allow_backslash) piece = "x";
      s += piece;
    }
    return s;
  };
  auto bytes = [&](int n) {
    std::string s;
    for (; n > 0; --n) s += static_cast<char>(rng());
    return s;
  };
  std::vector<std::string> keys = {"T"};
  std::vector<RegistryChange> changes;
  for (int i = 0; i < 40; ++i) {
    RegistryChange c;
    c.root = reg::kCurrentUser;
    c.path = keys[pick(static_cast<int>(keys.size()))];
    if (pick(4) == 0) {
      std::string part = name(false);
      c.path += "\\" + (part.empty() ? "k" : part);
      keys.push_back(c.path);
      c.kind = RegistryChange::Kind::kCreateKey;
    } else {
      c.kind = RegistryChange::Kind::kSetValue;
      c.value.name = name(true);
      const uint32_t types[] = {reg::kSz, reg::kSz, reg::kExpandSz, reg::kMultiSz, reg::kBinary,
                                reg::kDword, reg::kDwordBigEndian, reg::kNone, 11, 0x12345678};
      c.value.type = types[pick(std::size(types))];
      switch (c.value.type == reg::kSz && pick(3) > 0 ? 0 : pick(5)) {
        case 0: c.value.data = name(true) + '\0'; break;
        case 1: c.value.data = bytes(pick(300)); break;  // wraps, may hold NUL, CR or LF
        case 2: c.value.data = bytes(4); break;
        case 3: c.value.data = ""; break;
        default: c.value.data = name(true) + "\r\n" + name(true) + '\0'; break;
      }
    }
    changes.push_back(std::move(c));
  }
  return changes;
}

// Export, import into an empty store and export again give the same text
// and the same store; the hex lines stay within 80 columns.
TEST(RegFile, ExportImportExportIsTheSameText) {
  for (uint32_t seed = 1; seed <= 30; ++seed) {
    SCOPED_TRACE(seed);
    SqliteRegistry a(":memory:"), b(":memory:");
    ASSERT_TRUE(a.Apply(RandomTree(seed)).ok());
    const RegRun first = RunReg(RunRegExport, Key("HKCU\\T"), a);
    ASSERT_EQ(first.status, 0) << first.err;
    ASSERT_EQ(RunReg(RunRegImport, Key(""), b, first.out).status, 0);
    EXPECT_EQ(RunReg(RunRegExport, Key("hkcu\\t"), b).out, first.out);
    EXPECT_EQ(test::DumpRegistry(b, reg::kCurrentUser, "T"),
              test::DumpRegistry(a, reg::kCurrentUser, "T"));
    std::istringstream lines(first.out);
    for (std::string line; std::getline(lines, line);) {
      ASSERT_TRUE(line.ends_with('\r'));
      if (line.find("=\"") == std::string::npos) {
        EXPECT_LE(line.size() - 1, 80u) << line;
      }
    }
  }
}

// A file in the other editors' style imports as they import it, in UTF-8
// with LF, with a byte order mark and CR LF, and in UTF-16 either way round.
TEST(RegFile, HandWrittenFileImportsAsTheEditorsDo) {
  const std::string file =
      "REGEDIT4\n"
      "; a comment\n"
      "\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Old]\n"
      "\"x\"=\"gone with its key\"\n"
      "[hklm\\Software\\App]\n"
      "@=\"C:\\\\Program Files\\\\App \\\"quoted\\\"\"\n"
      "  \"Count\" = dword:0000002A\n"
      "\"Path\"=hex(2):25,00,41,\\\n"
      "  00,00\n"
      "\"Blob\"=hex:  01 , ff,\\\n"
      "   7f\n"
      "\"Odd\"=hex(800000ab):\n"
      "\"Drop\"=-\n"
      "\"Missing\"=-\n"
      "[-HKEY_LOCAL_MACHINE\\Software\\Old]\n"
      "\"ignored\"=\"a value of a deleted key\"\n"
      "[HKEY_LOCAL_MACHINE\\Software\\App\\Sub]\n"
      "# another comment\n";
  const std::string expected =
      "[Software]\n[Software\\App]\n"
      "" + ToHex("") + " 1 " + ToHex("C:\\Program Files\\App \"quoted\""s + '\0') + "\n" +
      ToHex("Count") + " 4 2a000000\n" + ToHex("Path") + " 2 2500410000\n" +
      ToHex("Blob") + " 3 01ff7f\n" + ToHex("Odd") + " " + std::to_string(0x800000abu) +
      " \n[Software\\App\\Sub]\n";
  auto crlf = [](std::string s) {
    for (size_t i = 0; (i = s.find('\n', i)) != std::string::npos; i += 2) s.insert(i, "\r");
    return s;
  };
  auto utf16 = [](const std::string& s, bool little) {
    std::string out = little ? "\xFF\xFE" : "\xFE\xFF";
    for (char c : s) out += little ? std::string{c, '\0'} : std::string{'\0', c};
    return out;
  };
  for (const std::string& bytes :
       {file, "\xEF\xBB\xBF" + crlf(file), utf16(crlf(file), true), utf16(file, false)}) {
    SqliteRegistry r(":memory:");
    ASSERT_TRUE(r.Apply({{RegistryChange::Kind::kSetValue, reg::kLocalMachine, "Software\\App",
                          {"Drop", reg::kSz, "y"s + '\0'}}}).ok());
    const RegRun run = RunReg(RunRegImport, Key(""), r, bytes);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(test::DumpRegistry(r, reg::kLocalMachine, "Software"), expected);
  }
  // A UTF-16 name comes out as UTF-8.
  SqliteRegistry r(":memory:");
  const std::string u16 = "\xFF\xFE" "R\0E\0G\0E\0D\0I\0T\0" "4\0\n\0[\0H\0K\0U\0\\\0" "\xE9\0]\0"s;
  EXPECT_EQ(RunReg(RunRegImport, Key(""), r, u16).status, 0);
  EXPECT_TRUE(r.OpenKey(reg::kUsers, "\xC3\xA9").ok());
}

// A malformed file names its first faulty line and imports nothing, also
// what came before the fault.
TEST(RegFile, MalformedFileGivesTheLineAndImportsNothing) {
  const std::string ok = "Windows Registry Editor Version 5.00\r\n\r\n[HKCU\\A]\r\n\"v\"=\"1\"\r\n";
  const std::tuple<std::string, int, std::string> cases[] = {
      {"Windows Registry Editor Version 4.00\n[HKCU\\A]\n", 1, "not a registry file"},
      {"", 1, "not a registry file"},
      {ok + "[HKCU\\B\r\n", 5, "no closing ']'"},
      {ok + "\"b\"=hex:01,0g\r\n", 5, "\"0g\" is not a hex byte"},
      {ok + "\"b\"=hex:01,\\\r\n  100\r\n", 5, "\"100\" is not a hex byte"},
      {ok + "\"b\"=hex:01,,02\r\n", 5, "not a hex byte"},
      {ok + "\"b\" \"c\"\r\n", 5, "'=' is missing"},
      {ok + "\"b\"=hex(z1):00\r\n", 5, "N is not a hex number"},
      {ok + "\"b\"=hex(2)00\r\n", 5, "':' is missing"},
      {ok + "\"b\"=dword:123456789\r\n", 5, "dword:"},
      {ok + "\"b\"=\"open\r\n", 5, "no closing quote"},
      {ok + "\"b\"=\"x\" y\r\n", 5, "follows the text"},
      {ok + "\"b\"=word:1\r\n", 5, "the data is none of"},
      {ok + "[HKEY_LOCAL\\X]\r\n", 5, "\"HKEY_LOCAL\" is not a root key"},
      {ok + "[HKCU\\X\\\\Y]\r\n", 5, "empty part"},
      {ok + "[-HKCU]\r\n", 5, "root key cannot be deleted"},
      {ok + "value\r\n", 5, "not a key, a value or a comment"},
      {"REGEDIT4\n\"v\"=\"before any key\"\n", 2, "a value before any [KEY] line"},
      {"\xFF\xFE" "R\0E\0G"s, 1, "half a character"},
      {"\xFF\xFE" "R\0\x00\xDC"s, 1, "low surrogate"},
  };
  for (const auto& [bytes, line, reason] : cases) {
    SCOPED_TRACE(bytes);
    SqliteRegistry r(":memory:");
    ASSERT_TRUE(r.CreateKey(reg::kCurrentUser, "Before").ok());
    const std::string before = test::DumpRegistry(r, reg::kCurrentUser, "");
    const RegRun run = RunReg(RunRegImport, Key(""), r, bytes);
    EXPECT_EQ(run.status, kRegFailed);
    EXPECT_NE(run.err.find("-: line " + std::to_string(line) + ": "), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(reason), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("nothing was imported"), std::string::npos);
    EXPECT_EQ(test::DumpRegistry(r, reg::kCurrentUser, ""), before);
  }
}

// What add stores for each type and what query shows of it.
TEST(RegCommand, AddStoresTheBytesOfEachType) {
  const std::tuple<std::string, std::string, std::string, std::string> cases[] = {
      {"REG_SZ", "a\\b", "615c6200", "a\\b"},
      {"reg_expand_sz", "%P%", "25502500", "%P%"},
      {"REG_MULTI_SZ", "ab\\0c", "6162006300" "00", "ab\\0c"},
      {"REG_MULTI_SZ", "", "00", ""},
      {"REG_DWORD", "0x2A", "2a000000", "0x0000002a"},
      {"REG_DWORD", "4294967295", "ffffffff", "0xffffffff"},
      {"REG_DWORD_BIG_ENDIAN", "258", "00000102", "0x00000102"},
      {"REG_QWORD", "0x100000000", "0000000001000000", "0x100000000"},
      {"REG_BINARY", "0aFF", "0aff", "0aff"},
      {"REG_NONE", "", "", ""},
  };
  for (const auto& [type, data, hex, shown] : cases) {
    SCOPED_TRACE(type + " " + data);
    SqliteRegistry r(":memory:");
    RegOptions o = Key("HKCU\\K");
    o.value = "v";
    o.type = type;
    o.data = data;
    ASSERT_EQ(RunReg(RunRegAdd, o, r).status, 0);
    RegistryValue v;
    ASSERT_TRUE(r.QueryValue(reg::kCurrentUser, "K", "v", &v).ok());
    EXPECT_EQ(ToHex(v.data), hex);
    EXPECT_EQ(ShownData(v), shown);
  }
}

// Failures: the exit status, the message, and a store left as it was.
TEST(RegCommand, RefusesWhatCannotBeDone) {
  struct Case {
    const char* command;
    std::string key;
    std::optional<std::string> value;
    std::string type, data;
    int status;
    std::string said;
  };
  const Case cases[] = {
      {"query", "HKCU\\Nope", {}, "", "", 1, "HKEY_CURRENT_USER\\Nope: The key does not exist"},
      {"query", "HKCU\\K", "nope", "", "", 1, "value \"nope\": The value does not exist"},
      {"query", "HKCU\\K", "", "", "", 1, "value \"(Default)\": The value does not exist"},
      {"delete", "HKCU\\Nope", {}, "", "", 1, "The key does not exist"},
      {"delete", "HKCU\\K", "nope", "", "", 1, "The value does not exist"},
      {"delete", "hkcu", {}, "", "", 1, "a root key cannot be deleted"},
      {"export", "HKCU\\Nope", {}, "", "", 1, "The key does not exist"},
      {"query", "HKEY_CURRENT_USERS\\K", {}, "", "", 64, "is not a root key"},
      {"add", "K", {}, "", "", 64, "\"K\" is not a root key"},
      {"add", "HKCU\\K\\", {}, "", "", 64, "empty part"},
      {"add", "HKCU\\K", "v", "REG_SZ", "new", 73, "exists already; not replaced"},
      {"add", "HKCU\\K", "v", "REG_WORD", "1", 64, "--type: \"REG_WORD\" is none of"},
      {"add", "HKCU\\K", "w", "REG_DWORD", "4294967296", 64, "is not a number"},
      {"add", "HKCU\\K", "w", "REG_DWORD", "0x", 64, "is not a number"},
      {"add", "HKCU\\K", "w", "REG_BINARY", "abc", 64, "two per byte"},
      {"add", "HKCU\\K", "w", "REG_MULTI_SZ", "a\\0\\0b", 64, "empty string"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.command) + " " + c.key);
    SqliteRegistry r(":memory:");
    ASSERT_TRUE(r.Apply({{RegistryChange::Kind::kSetValue, reg::kCurrentUser, "K",
                          {"v", reg::kSz, "old"s + '\0'}}}).ok());
    const std::string before = test::DumpRegistry(r, reg::kCurrentUser, "");
    RegOptions o = Key(c.key);
    o.value = c.value;
    if (!c.type.empty()) o.type = c.type;
    o.data = c.data;
    const std::string command = c.command;
    const RegRun run = command == "query"    ? RunReg(RunRegQuery, o, r)
                    : command == "delete" ? RunReg(RunRegDelete, o, r)
                    : command == "export" ? RunReg(RunRegExport, o, r)
                                          : RunReg(RunRegAdd, o, r);
    EXPECT_EQ(run.status, c.status);
    EXPECT_NE(run.err.find("voktools reg: "), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(c.said), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(test::DumpRegistry(r, reg::kCurrentUser, ""), before);
  }
}

// --json read back gives every value's bytes and type, and its data as the
// editors show it; --recursive gives one line per key.
TEST(RegCommand, JsonOutputReadsBackToTheStore) {
  SqliteRegistry r(":memory:");
  ASSERT_TRUE(r.Apply(RandomTree(7)).ok());
  RegOptions o = Key("HKCU\\T");
  o.json = o.recursive = true;
  const RegRun run = RunReg(RunRegQuery, o, r);
  ASSERT_EQ(run.status, 0) << run.err;
  const std::vector<Json> lines = test::JsonLines(run.out);
  for (const Json& j : lines) {
    std::string path = *TextFromJson(j["key"]);
    ASSERT_TRUE(path.starts_with("HKEY_CURRENT_USER\\"));
    path.erase(0, 18);
    std::vector<RegistryValue> values;
    ASSERT_TRUE(r.ListValues(reg::kCurrentUser, path, &values).ok());
    ASSERT_EQ(j["values"].size(), values.size());
    for (size_t i = 0; i < values.size(); ++i) {
      const Json& v = j["values"][i];
      EXPECT_EQ(*TextFromJson(v["name"]), values[i].name);
      EXPECT_EQ(v["type_number"], values[i].type);
      EXPECT_EQ(*FromHex(v["hex"].get<std::string>()), values[i].data);
      const Json& data = v["data"];
      std::string shown = ShownData(values[i]);
      if (data.is_number()) {
        EXPECT_EQ(std::stoull(shown, nullptr, 16), data.get<uint64_t>());
      } else if (data.is_array()) {
        std::string joined;
        for (const auto& s : data) joined += (joined.empty() ? "" : "\\0") + *TextFromJson(s);
        EXPECT_EQ(joined, shown);
      } else {
        EXPECT_EQ(*TextFromJson(data), shown);
      }
    }
    std::vector<std::string> subkeys;
    ASSERT_TRUE(r.ListSubkeys(reg::kCurrentUser, path, &subkeys).ok());
    EXPECT_EQ(j["subkeys"].size(), subkeys.size());
  }
  std::istringstream dump(test::DumpRegistry(r, reg::kCurrentUser, "T"));
  size_t dumped = 0;
  for (std::string line; std::getline(dump, line);) dumped += line.starts_with("[");
  EXPECT_EQ(lines.size(), dumped);
  EXPECT_GT(dumped, 3);
}

// The command itself on the store named by VOKTOOLS_REGISTRY.
TEST(RegCommand, CommandLineReachesTheStoreFile) {
  test::ScratchDir dir;
  ::setenv("VOKTOOLS_REGISTRY", (dir / "store/registry.sqlite3").c_str(), 1);
  const test::RunResult add =
      test::RunCli({"reg", "add", "HKCU\\Software\\X", "--default", "--data", "d"});
  EXPECT_EQ(add.status, 0) << add.err;
  EXPECT_EQ(test::RunCli({"reg", "add", "HKCU\\a", "--data", "d"}).status, 64);
  const std::string reg = dir / "x.reg";
  EXPECT_EQ(test::RunCli({"reg", "export", "HKCU\\Software", reg}).status, 0);
  EXPECT_EQ(test::RunCli({"reg", "delete", "HKCU\\Software\\X"}).status, 0);
  EXPECT_EQ(test::RunCli({"reg", "import", reg}).status, 0);
  const test::RunResult query = test::RunCli({"reg", "query", "HKCU\\Software", "-s"});
  ::unsetenv("VOKTOOLS_REGISTRY");
  EXPECT_EQ(query.out,
            "HKEY_CURRENT_USER\\Software\n\nHKEY_CURRENT_USER\\Software\\X\n"
            "    (Default)    REG_SZ    d\n\n");
}

}  // namespace
}  // namespace vok::cli
