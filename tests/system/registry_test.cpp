#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <tuple>

#include "frame/with_env.h"
#include "platform/env.h"
#include "platform/posix_file_system.h"
#include "platform/processes.h"
#include "platform/windowing.h"
#include "support/errors.h"
#include "support/fault_registry.h"
#include "support/memory_file_system.h"
#include "support/scratch_dir.h"
#include "voktools/common.h"
#include "voktools/host.h"
#include "voktools/registry.h"

namespace vok {
namespace {

using test::ErrorNumber;
using test::FaultRegistry;

class RecordingProcesses : public Processes {
 public:
  Status Start(const std::vector<std::string>& argv) override {
    started.push_back(argv);
    return fail ? Status::Error(ENOENT, "No such file or directory") : Status::OK();
  }
  std::vector<std::vector<std::string>> started;
  bool fail = false;
};

class RegistryTest : public ::testing::Test {
 protected:
  RegistryTest() {
    env_.registry = &store_;
    env_.processes = &processes_;
    SetMessageBoxHook([this](const std::string& text, const std::string& title) {
      boxes_.push_back(title + ": " + text);
    });
    SetWarningSink([this](const std::string& text) { warnings_.push_back(text); });
  }
  ~RegistryTest() override {
    SetMessageBoxHook(nullptr);
    SetWarningSink(nullptr);
  }

  // Every value below HKLM\SOFTWARE\Classes as "path=data" lines.
  std::map<std::string, std::string> Tree(const std::string& path = "SOFTWARE\\Classes") {
    std::map<std::string, std::string> out;
    std::vector<RegistryValue> values;
    EXPECT_TRUE(store_.ListValues(reg::kLocalMachine, path, &values).ok());
    for (const RegistryValue& v : values) {
      EXPECT_EQ(v.type, reg::kSz);
      out[path.substr(17) + (v.name.empty() ? "" : "@" + v.name)] = v.data.substr(0, v.data.size() - 1);
    }
    std::vector<std::string> subkeys;
    EXPECT_TRUE(store_.ListSubkeys(reg::kLocalMachine, path, &subkeys).ok());
    for (const std::string& k : subkeys) out.merge(Tree(path + "\\" + k));
    return out;
  }

  test::MemoryFileSystem fs_;
  HeadlessWindowing windowing_;
  FaultRegistry store_;
  RecordingProcesses processes_;
  Env env_{&fs_, nullptr, &windowing_};
  std::vector<std::string> boxes_, warnings_;
};

ByteArray Bytes(std::string_view s) { return ByteArray(s.begin(), s.end()); }

struct WriteCase {
  const char* label;
  int32_t value_type;
  Variant written;
  uint32_t stored_type;  // 0 with no stored: nothing written
  std::string stored;
  Variant read;
};

// Writing converts by ValueType, reading by the stored type.
TEST_F(RegistryTest, ValuesConvertBothWays) {
  ::setenv("VOK_REG_TEST", "there", 1);
  ::unsetenv("VOK_REG_UNSET");
  const std::string nul(1, '\0');
  const std::vector<WriteCase> cases = {
      {"text", REG_SZ, "abc", 1, "abc" + nul, "abc"},
      {"reference makes expand", REG_SZ, "%VOK_REG_TEST%;x", 2, "%VOK_REG_TEST%;x" + nul, "there;x"},
      {"unset name stays", REG_EXPAND_SZ, "%VOK_REG_UNSET%%VOK_REG_TEST%", 2,
       "%VOK_REG_UNSET%%VOK_REG_TEST%" + nul, "%VOK_REG_UNSET%there"},
      {"percent sign alone", REG_EXPAND_SZ, "100%", 1, "100%" + nul, "100%"},
      {"two percent signs together", REG_SZ, "%%", 1, "%%" + nul, "%%"},
      {"number as text", REG_SZ, int32_t{5}, 1, "5" + nul, "5"},
      {"dword", REG_DWORD, int32_t{0x01020304}, 4, "\x04\x03\x02\x01", int32_t{0x01020304}},
      {"big endian stored little", REG_DWORD_BIG_ENDIAN, int16_t{-2}, 4, "\xfe\xff\xff\xff",
       int32_t{-2}},
      {"bytes", REG_BINARY, Bytes(std::string("\0\xff\x07", 3)), 3, std::string("\0\xff\x07", 3),
       Bytes(std::string("\0\xff\x07", 3))},
      {"text as dword", REG_DWORD, "12", 0, "", {}},
      {"double as dword", REG_DWORD, 1.0, 0, "", {}},
      {"text as binary", REG_BINARY, "ab", 0, "", {}},
      {"type 0", REG_NONE, "x", 0, "", {}},
      {"multi-string type", REG_MULTI_SZ, "x", 0, "", {}},
  };
  for (const WriteCase& c : cases) {
    SCOPED_TRACE(c.label);
    WithEnv<cRegistry> r(env_);
    r.ClassKey(HKEY_CURRENT_USER);
    r.SectionKey("T");
    r.ValueKey(c.label);
    r.ValueType(c.value_type);
    r.Value(c.written);
    RegistryValue stored;
    Status s = store_.QueryValue(reg::kCurrentUser, "T", c.label, &stored);
    if (c.stored_type == 0) {
      EXPECT_FALSE(s.ok());
      continue;
    }
    ASSERT_TRUE(s.ok());
    EXPECT_EQ(stored.type, c.stored_type);
    EXPECT_EQ(stored.data, c.stored);
    r.ValueType(0);
    EXPECT_EQ(r.Value(), c.read);
    EXPECT_EQ(r.ValueType(), static_cast<int32_t>(c.stored_type));
  }
}

// Values of every type put in the store directly read by their type; empty
// text is error 5. A value that is not there gives Default and leaves
// ValueType as it was.
TEST_F(RegistryTest, StoredValuesReadByTheirType) {
  const std::vector<std::tuple<uint32_t, std::string, Variant>> cases = {
      {5, std::string("\0\0\1\2", 4), int32_t{258}},
      {4, "\x05\x01", int32_t{261}},
      {7, std::string("a\0b\0\0", 5), std::string("a\0b\0", 4)},
      {1, "no nul", "no nu"},
      {99, "xyz", Bytes("xyz")},
      {6, "", Bytes("")},
      {1, "", {}},
  };
  WithEnv<cRegistry> r(env_);
  r.ClassKey(HKEY_USERS);
  r.SectionKey("S");
  for (const auto& [type, data, read] : cases) {
    SCOPED_TRACE(type);
    const RegistryChange set{RegistryChange::Kind::kSetValue, reg::kUsers, "S", {"", type, data}};
    ASSERT_TRUE(store_.Apply({set}).ok());
    if (read.type() == VarType::kEmpty) {
      EXPECT_EQ(ErrorNumber([&] { r.Value(); }), 5);
    } else {
      EXPECT_EQ(r.Value(), read);
    }
  }
  r.ValueType(3);
  r.ValueKey("missing");
  r.Default("fallback");
  EXPECT_EQ(r.Value(), Variant("fallback"));
  EXPECT_EQ(r.ValueType(), 3);
}

TEST_F(RegistryTest, AssociationLayout) {
  WithEnv<cRegistry> r(env_);
  r.CreateEXEAssociation("  C:\\App\\edit.exe ", "TextDoc", "Text document", "tdx", "", true, "",
                         false, "", false, "", 0);
  const std::string exe = "\"C:\\App\\edit.exe\"";
  const std::map<std::string, std::string> expected = {
      {".tdx", "TextDoc"},
      {"TextDoc", "Text document"},
      {"TextDoc\\shell\\open", "&Open"},
      {"TextDoc\\shell\\open\\command", exe + " \"%1\""},
      {"TextDoc\\shell\\print", "&Print"},
      {"TextDoc\\shell\\print\\command", exe + " /p \"%1\""},
      {"TextDoc\\DefaultIcon", exe + ",0"},
  };
  EXPECT_EQ(Tree(), expected);
  EXPECT_EQ(r.ClassKey(), HKEY_LOCAL_MACHINE);
  EXPECT_EQ(r.SectionKey(), "TextDoc\\DefaultIcon");

  // Every verb, a path already quoted, then verbs added to the class.
  r.CreateEXEAssociation("\"/opt/x y\"", "Doc2", "D", "d2", "Edit", false, "", true, "", true, "");
  r.ClassKey(HKEY_CLASSES_ROOT);
  r.CreateAdditionalEXEAssociations("Doc2", {"v1", "Verb one", "cmd 1", "v2", "Verb two", "cmd 2"});
  r.CreateAdditionalEXEAssociations("Doc2", {"v3", "x", "y", "z"});
  r.CreateAdditionalEXEAssociations("NoSuchClass", {"v4", "x", "y"});
  const std::string quoted = "\"/opt/x y\"";
  std::map<std::string, std::string> both = {
      {".d2", "Doc2"},
      {"Doc2", "D"},
      {"Doc2\\shell\\open", "Edit"},
      {"Doc2\\shell\\open\\command", quoted + " \"%1\""},
      {"Doc2\\shell\\add", "&Install d2"},
      {"Doc2\\shell\\add\\command", quoted + " /a \"%1\""},
      {"Doc2\\shell\\new", "&New"},
      {"Doc2\\shell\\new\\command", quoted + " /n \"%1\""},
      {"Doc2\\shell\\v1", "Verb one"},
      {"Doc2\\shell\\v1\\command", "cmd 1"},
      {"Doc2\\shell\\v2", "Verb two"},
      {"Doc2\\shell\\v2\\command", "cmd 2"},
  };
  both.insert(expected.begin(), expected.end());
  EXPECT_EQ(Tree(), both);
}

TEST_F(RegistryTest, EnumerationsAreOneBasedAndEndAtANameThatDoesNotFit) {
  WithEnv<cRegistry> r(env_);
  r.ClassKey(HKEY_CURRENT_USER);
  r.SectionKey("E");
  TextArray names = {"left over"};
  int32_t count = 7;
  EXPECT_TRUE(r.EnumerateValues(names, count));
  EXPECT_EQ(count, 0);
  EXPECT_TRUE(names.empty());
  EXPECT_TRUE(r.EnumerateSections(names, count));
  EXPECT_EQ(count, 0);
  for (const char* name : {"b", "A", "c"}) {
    ASSERT_TRUE(store_.CreateKey(reg::kCurrentUser, std::string("E\\") + name).ok());
    ASSERT_TRUE(store_.SetValue(reg::kCurrentUser, "E", {name, reg::kSz, std::string(1, '\0')}).ok());
  }
  ASSERT_TRUE(store_.CreateKey(reg::kCurrentUser, "E\\b" + std::string(254, 'x')).ok());
  // Late bound, as a host calls it: the outputs come back in the arguments.
  std::vector<Variant> args{Variant(), int32_t{0}};
  EXPECT_EQ(r.Invoke("EnumerateValues", InvokeKind::kMethod, args), Variant(true));
  EXPECT_EQ(args[0], Variant(TextArray{"b", "A", "c"}));
  EXPECT_EQ(args[1], Variant(int32_t{3}));
  args = {TextArray{}, int32_t{0}};
  EXPECT_EQ(r.Invoke("EnumerateSections", InvokeKind::kMethod, args), Variant(true));
  EXPECT_EQ(args[0], Variant(TextArray{"A", "b"}));
}

TEST_F(RegistryTest, AFailingStoreIsReportedAsWarnings) {
  WithEnv<cRegistry> r(env_);
  r.ClassKey(HKEY_CURRENT_USER);
  r.SectionKey("F");
  r.ValueType(REG_SZ);
  r.Value("kept");
  store_.failing = true;
  r.Default(int32_t{-1});
  EXPECT_EQ(r.Value(), Variant(int32_t{-1}));
  TextArray names;
  int32_t count = 0;
  EXPECT_FALSE(r.EnumerateSections(names, count));
  r.Value("lost");
  EXPECT_EQ(warnings_.size(), 3u);
  store_.failing = false;
  EXPECT_EQ(r.Value(), Variant("kept"));
}

TEST_F(RegistryTest, GetKeyValueGivesTextsAndNumbers) {
  struct Case {
    uint32_t type;
    std::string data;
    bool found;
    std::string key_val;  // from "before"
  };
  const std::vector<Case> cases = {
      {reg::kSz, std::string("text\0", 5), true, "text"},
      {reg::kSz, "no nul", true, "no nul"},
      {reg::kDword, std::string("\x05\x01\0\0", 4), true, "261"},
      {reg::kDword, "\xff\xff\xff\xff", true, "-1"},
      {reg::kExpandSz, std::string("%X%\0", 4), true, "before"},
      {reg::kSz, std::string(1024, 'a'), true, std::string(1024, 'a')},
      {reg::kSz, std::string(1025, 'a'), false, ""},
  };
  WithEnv<clsCommon> common(env_);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.data.substr(0, 8));
    ASSERT_TRUE(store_.CreateKey(reg::kLocalMachine, "K").ok());
    ASSERT_TRUE(store_.SetValue(reg::kLocalMachine, "K", {"v", c.type, c.data}).ok());
    std::vector<Variant> args{HKEY_LOCAL_MACHINE, "K", "v", "before"};
    EXPECT_EQ(common.Invoke("GetKeyValue", InvokeKind::kMethod, args), Variant(c.found));
    EXPECT_EQ(args[3], Variant(c.key_val));
  }
  std::string val = "before";
  EXPECT_FALSE(common.GetKeyValue(HKEY_LOCAL_MACHINE, "K", "missing", val));
  EXPECT_EQ(val, "");
}

TEST_F(RegistryTest, StartSysInfoStartsTheProgramTheRegistryNamesOrSaysThereIsNone) {
  const std::string path_key = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
  const std::string location_key = "SOFTWARE\\Microsoft\\Shared Tools Location";
  const std::string box = "VOK Tools: System Information Is Unavailable At This Time";
  WithEnv<clsCommon> common(env_);
  auto set = [&](const std::string& key, const std::string& name, const std::string& text) {
    ASSERT_TRUE(store_.CreateKey(reg::kLocalMachine, key).ok());
    ASSERT_TRUE(store_.SetValue(reg::kLocalMachine, key, {name, reg::kSz, text + '\0'}).ok());
  };

  common.StartSysInfo();
  EXPECT_EQ(boxes_, std::vector<std::string>{box});

  // The program's folder, with '\\' before the program's name as the
  // real file system reads it.
  test::ScratchDir dir;
  PosixFileSystem real_fs(SystemRandom());
  env_.fs = &real_fs;
  const std::string folder = dir.path().substr(0, dir.path().size() - 1);
  set(location_key, "MSINFO", folder);
  common.StartSysInfo();  // the program is not in that folder
  EXPECT_EQ(boxes_.size(), 2u);
  test::WriteFile(dir / "MSINFO32.EXE", "program");
  common.StartSysInfo();
  ASSERT_EQ(processes_.started.size(), 1u);
  EXPECT_EQ(processes_.started[0], std::vector<std::string>{folder + "\\MSINFO32.EXE"});

  set(path_key, "PATH", "\"/opt/sys info/run\"");
  common.StartSysInfo();
  ASSERT_EQ(processes_.started.size(), 2u);
  EXPECT_EQ(processes_.started[1], std::vector<std::string>{"/opt/sys info/run"});
  processes_.fail = true;
  common.StartSysInfo();
  EXPECT_EQ(boxes_.size(), 3u);
}

}  // namespace
}  // namespace vok
