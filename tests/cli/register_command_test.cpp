// `voktools register`: the built library registered and unregistered through
// the command, and the failures the command reports.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "cli/child_process.h"
#include "frame/registration.h"
#include "json_text.h"
#include "platform/library_folder.h"
#include "platform/sqlite_registry.h"
#include "support/registry_dump.h"
#include "support/scratch_dir.h"
#include "voktools/class_table.h"

namespace vok::cli {
namespace {

const std::string kBuiltLibrary = std::filesystem::canonical(VOK_LIBRARY_PATH).string();

// The store named by VOKTOOLS_REGISTRY while it lives.
class StoreFile {
 public:
  explicit StoreFile(std::string file) : file_(std::move(file)) {
    ::setenv("VOKTOOLS_REGISTRY", file_.c_str(), 1);
  }
  ~StoreFile() { ::unsetenv("VOKTOOLS_REGISTRY"); }
  const std::string& file() const { return file_; }

 private:
  std::string file_;
};

struct RegisterCase {
  std::string name;
  std::string args;  // "$LIB" the built library, "$OTHER" a library without the entry points
  int status;
  std::string err;  // a text standard error holds
  std::string store = "$DIR/store.sqlite3";
};

void PrintTo(const RegisterCase& c, std::ostream* os) { *os << c.name; }

class RegisterCommand : public testing::TestWithParam<RegisterCase> {};

TEST_P(RegisterCommand, FailsWithoutTouchingTheStore) {
  const RegisterCase& c = GetParam();
  test::ScratchDir dir;
  test::WriteFile(dir / "text.so", "not a library\n");
  ASSERT_EQ(::mkfifo((dir / "fifo.so").c_str(), 0600), 0);
  const std::string other = LoadedFileOf(reinterpret_cast<const void*>(&::sqlite3_libversion));
  StoreFile store(test::InDir(c.store, dir));
  std::vector<std::string> args = test::Args(c.args, dir);
  for (std::string& a : args) {
    if (a == "$LIB") a = kBuiltLibrary;
    if (a == "$OTHER") a = other;
  }
  const test::RunResult r = test::RunCli(args);
  EXPECT_EQ(r.status, c.status) << r.err;
  EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
  EXPECT_FALSE(test::Exists(store.file()));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RegisterCommand,
    testing::Values(
        RegisterCase{"MissingLibrary", "register --library $DIR/none.so", 69,
                     "cannot open the library"},
        RegisterCase{"NotALibrary", "register --library $DIR/text.so", 69, "cannot open"},
        RegisterCase{"Fifo", "register --library $DIR/fifo.so", 69, "not a regular file"},
        RegisterCase{"Folder", "register --library $DIR/.", 69, "not a regular file"},
        RegisterCase{"NoEntryPoint", "register --unregister --library $OTHER", 69,
                     "has no entry point DllUnregisterServer"},
        RegisterCase{"StoreCannotBeCreated", "register --library $LIB", 1, "0x80040201",
                     "$DIR/text.so/store.sqlite3"},
        RegisterCase{"NothingToUnregister", "register --unregister -q --library $LIB", 0, ""},
        RegisterCase{"Usage", "register --library", 64, ""}),
    [](const testing::TestParamInfo<RegisterCase>& info) { return info.param.name; });

TEST(RegisterCommand, RegistersTheBuiltLibraryAndUnregistersOnlyItsEntries) {
  test::ScratchDir dir;
  StoreFile store(dir / "store.sqlite3");
  const std::string clsid(ClassTable()[0].clsid);
  std::string before;
  {
    SqliteRegistry r(store.file());
    ASSERT_TRUE(r.Apply({{RegistryChange::Kind::kSetValue,
                          reg::kClassesRoot,
                          "CLSID\\" + clsid + "\\InprocServer32",
                          {"Mine", reg::kSz, std::string("kept", 5)}}})
                    .ok());
    before = test::DumpRegistry(r, reg::kLocalMachine, "");
  }
  // The default library, as the command's run path finds it.
  const test::RunResult registered = test::RunCli({"register", "--json"});
  ASSERT_EQ(registered.status, 0) << registered.err;
  const std::vector<Json> lines = test::JsonLines(registered.out);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0]["library"], kBuiltLibrary);
  EXPECT_EQ(lines[0]["classes"], ClassTable().size());
  EXPECT_EQ(lines[0]["store"], store.file());
  {
    // Every entry is the registration's own test; here, that it was written.
    SqliteRegistry r(store.file());
    std::string found;
    EXPECT_TRUE(RegisteredLibrary(r, clsid, &found).ok());
    EXPECT_EQ(found, kBuiltLibrary);
  }
  const test::RunResult removed =
      test::RunCli({"register", "--unregister", "--library", VOK_LIBRARY_PATH});
  ASSERT_EQ(removed.status, 0) << removed.err;
  EXPECT_NE(removed.out.find(kBuiltLibrary), std::string::npos) << removed.out;
  SqliteRegistry r(store.file());
  EXPECT_EQ(test::DumpRegistry(r, reg::kLocalMachine, ""), before);
}

}  // namespace
}  // namespace vok::cli
