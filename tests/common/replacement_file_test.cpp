#include "common/replacement_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "platform/windowing.h"
#include "support/fault_file_system.h"
#include "support/scratch_dir.h"
#include "voktools/host.h"

namespace vok {
namespace {

using test::ReadFile;
using test::ScratchDir;
using test::WriteFile;

struct Stat {
  uint32_t mode = 0, uid = 0, gid = 0;
};

Stat StatOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return {static_cast<uint32_t>(st.st_mode & 07777), st.st_uid, st.st_gid};
}

// Warnings the library hands to the host, while it lives.
struct Warnings {
  Warnings() {
    SetWarningSink([this](const std::string& w) { texts.push_back(w); });
  }
  ~Warnings() { SetWarningSink(nullptr); }
  std::vector<std::string> texts;
};

int16_t Replace(Env& env, const std::string& target, const std::string& text,
                const OutputOptions& options) {
  ReplacementFile out;
  if (!out.Start(env, target, options).ok()) return -1;
  EXPECT_TRUE(out.file().Append(text).ok());
  EXPECT_TRUE(out.Close().ok());
  return out.Commit(Variant::Nothing());
}

constexpr uint32_t kNobody = 65534;

struct AttributeCase {
  const char* name;
  uint32_t doc_mode;
  bool doc_of_other_user;   // needs root
  bool side_file;           // else the document is rewritten
  int32_t old_side_mode;    // -1: no old side file
  uint32_t want_mode;
  bool want_warning;
};

void PrintTo(const AttributeCase& c, std::ostream* os) { *os << c.name; }

class Attributes : public ::testing::TestWithParam<AttributeCase> {};

// A rewritten file is never readable by more people than its document,
// at no moment, and a document keeps its mode, owner and group.
TEST_P(Attributes, AreThoseOfTheDocument) {
  const AttributeCase& c = GetParam();
  if (c.doc_of_other_user && ::geteuid() != 0) GTEST_SKIP() << "needs root to give a file away";
  test::TestEnv t;
  ScratchDir dir;
  Warnings warnings;
  const std::string doc = dir / "doc.txt", side = dir / "doc.obj";
  WriteFile(doc, "old");
  if (c.old_side_mode >= 0) {
    WriteFile(side, "old side");
    ::chmod(side.c_str(), static_cast<mode_t>(c.old_side_mode));
  }
  if (c.doc_of_other_user) {
    ASSERT_EQ(::chown(doc.c_str(), kNobody, kNobody), 0);
  }
  ::chmod(doc.c_str(), c.doc_mode);
  const Stat before = StatOf(doc);
  const std::string& target = c.side_file ? side : doc;
  ASSERT_EQ(Replace(t.env, target, "new", c.side_file ? SideFileOf(doc) : InPlace()), 0);
  EXPECT_EQ(ReadFile(target), "new");
  const Stat after = StatOf(target);
  EXPECT_EQ(after.mode, c.want_mode);
  EXPECT_EQ(after.uid, before.uid);
  EXPECT_EQ(after.gid, before.gid);
  EXPECT_EQ(!warnings.texts.empty(), c.want_warning);
  // The mode and owner were the scratch file's before it took the name.
  const std::vector<std::string>& log = t.fs.Log();
  auto at = [&](const char* op) { return std::find(log.begin(), log.end(), op) - log.begin(); };
  EXPECT_LT(at("Sync"), at("ScratchMode"));
  EXPECT_LT(at("ScratchMode"), at("Publish"));
  EXPECT_LT(at("Publish"), at("SyncFolder"));
  EXPECT_EQ(dir.Entries().size(), c.old_side_mode >= 0 || c.side_file ? 2u : 1u);
}

// name: doc mode, doc of another user, side file, old side file's mode, wanted mode, warning
INSTANTIATE_TEST_SUITE_P(
    Cases, Attributes,
    ::testing::Values(AttributeCase{"document_0640", 0640, false, false, -1, 0640, false},
                      AttributeCase{"document_0600", 0600, false, false, -1, 0600, false},
                      AttributeCase{"readonly_document", 0444, false, false, -1, 0444, true},
                      AttributeCase{"document_of_another_user", 0640, true, false, -1, 0640, false},
                      AttributeCase{"new_side_file", 0600, false, true, -1, 0600, false},
                      AttributeCase{"side_file_of_readonly_doc", 0444, false, true, -1, 0644, false},
                      AttributeCase{"old_open_side_file", 0600, false, true, 0666, 0600, false},
                      AttributeCase{"side_file_of_other_user", 0640, true, true, 0644, 0640, false}),
    [](const auto& info) { return std::string(info.param.name); });

// A document whose owner cannot be kept is still replaced, and the host is
// told.
TEST(ReplacementFile, AnOwnerThatCannotBeKeptIsReported) {
  test::TestEnv t;
  ScratchDir dir;
  Warnings warnings;
  WriteFile(dir / "doc", "old");
  t.fs.FailOp("SetOwner", EPERM);
  ASSERT_EQ(Replace(t.env, dir / "doc", "new", InPlace()), 0);
  EXPECT_EQ(ReadFile(dir / "doc"), "new");
  ASSERT_EQ(warnings.texts.size(), 1u);
  EXPECT_EQ(warnings.texts[0],
            dir / "doc" + ": its owner and group could not be kept (Operation not permitted)");
}

// Only regular files are replaced: a folder, a FIFO or a device reached
// through a link is refused before anything is written.
TEST(ReplacementFile, RefusesTargetsThatAreNoRegularFiles) {
  test::TestEnv t;
  ScratchDir dir;
  std::filesystem::create_directory(dir / "folder");
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  ASSERT_EQ(::symlink("/dev/null", (dir / "null").c_str()), 0);
  for (const char* name : {"folder", "fifo", "null"}) {
    SCOPED_TRACE(name);
    ReplacementFile out;
    EXPECT_FALSE(out.Start(t.env, dir / name, InPlace()).ok());
    EXPECT_EQ(t.fs.Calls("CreateScratch"), 0);
  }
}

// A kept previous content comes back on Revert; a new target goes.
TEST(ReplacementFile, RevertBringsBackThePreviousContent) {
  ScratchDir dir;
  WriteFile(dir / "doc", "old");
  test::TestEnv t;
  for (bool existed : {true, false}) {
    SCOPED_TRACE(existed);
    const std::string target = dir / (existed ? "doc" : "new");
    ReplacementFile out;
    ASSERT_TRUE(out.Start(t.env, target, InPlace()).ok());
    ASSERT_TRUE(out.file().Append("new").ok());
    ASSERT_TRUE(out.Close().ok());
    ASSERT_EQ(out.Commit(Variant::Nothing(), true), 0);
    EXPECT_EQ(ReadFile(target), "new");
    ASSERT_TRUE(out.Revert().ok());
    out.Release();
    if (existed) {
      EXPECT_EQ(ReadFile(target), "old");
    }
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"doc"});
  }
}

}  // namespace
}  // namespace vok
