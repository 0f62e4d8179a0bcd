#include "mif/mif_insets.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <utility>
#include <string>
#include <vector>

#include "platform/env.h"
#include "support/scratch_dir.h"

namespace vok {
namespace {

using test::ReadFile;
using test::ScratchDir;
using test::WriteFile;

struct Files {
  ScratchDir dir;
  std::string mif = dir / "book.mif";
  std::string obj = dir / "book.obj";
  std::shared_ptr<Collection> errors = Collection::Create();
};

int16_t Remove(Files& f, int32_t chunk = 1 << 20, bool remove = true) {
  MifInsetRun run{CurrentEnv(), f.mif, "", *f.errors, nullptr, chunk};
  return remove ? RemoveMifObjects(run) : InsertMifObjects(run);
}
int16_t Insert(Files& f, int32_t chunk = 1 << 20) { return Remove(f, chunk, false); }

// The lines of a text, each with its own line end (CR, LF, CR LF or LF CR).
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t i = 0;
  while (i < text.size()) {
    size_t e = text.find_first_of("\r\n", i);
    e = e == std::string::npos ? text.size() : e + 1;
    if (e < text.size() && (text[e] == '\r' || text[e] == '\n') && text[e] != text[e - 1]) ++e;
    lines.push_back(text.substr(i, e - i));
    i = e;
  }
  return lines;
}

// Removal, then insertion, worked out line by line: the MIF file and the
// object file after removal, and what insertion gives back: every inset as
// it was, its "=EndInset" line ending in CR LF, and a CR LF where its
// placeholder's line ended (also after an inset the end of the file cut off).
struct Model {
  std::string removed, obj, back;
};
Model Expected(const std::string& mif) {
  Model m;
  bool inside = false;
  int n = 0;
  for (const std::string& line : Lines(mif)) {
    if (!inside && line.starts_with("=")) {
      inside = true;
      const std::string placeholder = "<QUONObj " + std::to_string(++n) + ">\r\n";
      m.obj += placeholder;
      m.removed += placeholder;
    }
    if (inside && line.starts_with("=EndInset")) {
      m.obj += "=EndInset\r\n";
      m.back += "=EndInset\r\n\r\n";
      inside = false;
      continue;
    }
    (inside ? m.obj : m.removed) += line;
    m.back += line;
  }
  m.obj += "<QUONObj End>";
  if (inside) m.back += "\r\n";
  return m;
}

// Generated files from lines rich in inset starts, ends and near misses,
// then the corpus files, read in small pieces and whole.
TEST(MifInsets, FilesComeOutAndBackLikeTheLineByLineModel) {
  const std::vector<std::string> starts = {"=", "=EndInset", "=EndInse", "x=EndInset", "<Pgf >",
                                           "", "=Inset", "&0a0b", " <QUON"};
  const std::vector<std::string> ends = {"\r\n", "\n", "\r", "\n\r", "\r\n\r", ""};
  std::mt19937 rng(11);
  std::vector<std::string> inputs;
  for (int round = 0; round < 200; ++round) {
    std::string mif;
    const int lines = static_cast<int>(rng() % 30);
    for (int i = 0; i < lines; ++i) {
      mif += starts[rng() % starts.size()] + std::string(rng() % 3, 'y') + ends[rng() % ends.size()];
    }
    inputs.push_back(mif);
  }
  const std::filesystem::path corpus = VOK_CORPUS_DIR "/mif";
  if (std::filesystem::exists(corpus)) {
    for (const auto& entry : std::filesystem::directory_iterator(corpus))
      inputs.push_back(ReadFile(entry.path()));
  }
  for (size_t n = 0; n < inputs.size(); ++n) {
    const std::string& mif = inputs[n];
    const auto chunk = static_cast<int32_t>(n % 3 == 0 ? 1 << 20 : 16 + rng() % 24);
    SCOPED_TRACE(::testing::PrintToString(mif.substr(0, 200)) + " chunk " + std::to_string(chunk));
    Files f;
    WriteFile(f.mif, mif);
    ASSERT_EQ(Remove(f, chunk), 0);
    const Model want = Expected(mif);
    ASSERT_TRUE(ReadFile(f.mif) == want.removed);
    ASSERT_TRUE(ReadFile(f.obj) == want.obj);
    ASSERT_EQ(Insert(f, chunk), 0);
    ASSERT_TRUE(ReadFile(f.mif) == want.back);
  }
}

TEST(MifInsets, PlaceholdersInAnyOrderIndentedOrMissing) {
  Files f;
  std::string mif;
  for (int i = 1; i <= 12; ++i)
    mif += "t" + std::to_string(i) + "\r\n=I" + std::to_string(i) + "\r\n=EndInset\r\n";
  WriteFile(f.mif, mif);
  ASSERT_EQ(Remove(f), 0);
  WriteFile(f.mif, "  <QUONObj 10>\r\n<QUONObj 1>\r\n<QUONObj 99>\r\n<QUONObj 1>\n");
  ASSERT_EQ(Insert(f), 0);
  EXPECT_EQ(
      ReadFile(f.mif),
      "=I10\r\n=EndInset\r\n\r\n=I1\r\n=EndInset\r\n\r\n=EndInset\r\n\r\n=I1\r\n=EndInset\r\n\r\n");
}

// A failure is reported once and leaves the MIF file and an old object file
// as they were; a second removal keeps the only copy of the insets.
TEST(MifInsets, FailuresAreReportedAndLeaveTheFiles) {
  struct Case {
    bool remove;
    std::string mif;       // "file", "folder" or "removed" (holding a placeholder)
    std::string obj;       // "" (none), "file", "folder" or "read-only"
    std::string message;
  } const cases[] = {
      {true, "folder", "", "MIF file not found"},
      {false, "file", "", "Object file not found"},
      {true, "file", "folder", "Unable to open Object file"},
      {true, "removed", "file", "Unable to delete previous object file"},
      {true, "file", "read-only", "Unable to delete previous object file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    Files f;
    const std::string mif_text =
        c.remove && c.mif == "file" ? "=i\r\n=EndInset\r\n" : "<QUONObj 1>\r\n=j\r\n=EndInset\r\n";
    const std::string obj_text = "<QUONObj 1>\r\n=i\r\n=EndInset\r\n<QUONObj End>";
    c.mif == "folder" ? (void)std::filesystem::create_directory(f.mif) : WriteFile(f.mif, mif_text);
    if (c.obj == "folder") std::filesystem::create_directory(f.obj);
    if (c.obj == "file" || c.obj == "read-only") WriteFile(f.obj, obj_text);
    if (c.obj == "read-only") ::chmod(f.obj.c_str(), 0444);
    EXPECT_EQ(c.remove ? Remove(f) : Insert(f), 1);
    EXPECT_EQ(f.errors->Texts(), std::vector<std::string>{c.message});
    if (c.mif != "folder") EXPECT_EQ(ReadFile(f.mif), mif_text);
    if (!c.obj.empty() && c.obj != "folder") EXPECT_EQ(ReadFile(f.obj), obj_text);
  }
}

TEST(MifInsets, ObjectFileNameReplacesTheLastDot) {
  EXPECT_EQ(MakeObjFileName("C:\\docs\\book.mif"), "C:\\docs\\book.obj");
  EXPECT_EQ(MakeObjFileName("C:\\docs\\book"), "C:\\docs\\book.obj");
  EXPECT_EQ(MakeObjFileName("C:\\my.docs\\book"), "C:\\my.obj");
}

}  // namespace
}  // namespace vok
