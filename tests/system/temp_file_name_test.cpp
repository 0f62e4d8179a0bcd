#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "support/fault_file_system.h"
#include "support/scratch_dir.h"
#include "voktools/temp_file_name.h"

namespace vok {
namespace {

TEST(GetTempFileName, NamesHaveTheFixedShapeInTheTemporaryFolder) {
  test::TestEnv t;
  test::ScratchDir dir;
  t.fs.SetTempPath(dir.path());
  clsGetTempFileName namer;
  auto well_formed = [&](const std::string& name) {
    if (name.size() != dir.path().size() + 11 || name.rfind(dir.path() + "VOK", 0) != 0)
      return false;
    std::string code = name.substr(dir.path().size() + 3, 4);
    return code.find_first_not_of("0123456789ABCDEF") == std::string::npos &&
           name.substr(name.size() - 4) == ".TMP";
  };
  std::set<std::string> seen;
  for (int i = 0; i < 200; ++i) {
    std::string name = namer.Filename();
    EXPECT_TRUE(well_formed(name)) << name;
    seen.insert(name);
  }
  EXPECT_GT(seen.size(), 190u);  // 65536 codes: repeats in 200 draws are rare
}

TEST(GetTempFileName, AFolderWithoutSeparatorGetsOne) {
  test::TestEnv t;
  t.fs.SetTempPath("/var/scratch");
  clsGetTempFileName namer;
  EXPECT_EQ(namer.Folder(), "/var/scratch/");
  EXPECT_EQ(namer.Filename().rfind("/var/scratch/VOK", 0), 0u);
}

TEST(GetTempFileName, NoTemporaryFolderAfterAThousandAsksFallsBack) {
  test::TestEnv t;
  t.fs.SetTempPath("");
  clsGetTempFileName namer;
  EXPECT_EQ(t.fs.Calls("TempPath"), 1000);
  EXPECT_EQ(namer.Folder(), "/tmp/");
}

// Names come from the environment's random source (its low 16 bits); a name
// a file already has is drawn again, and after 1000 draws the fixed name is
// taken.
struct DrawCase {
  const char* name;
  std::vector<uint32_t> draws;  // the last one repeats
  std::string expected;         // in the folder
  int finds;
  friend void PrintTo(const DrawCase& c, std::ostream* os) { *os << c.name; }
};

class GetTempFileNameDraws : public ::testing::TestWithParam<DrawCase> {};

TEST_P(GetTempFileNameDraws, SkipTakenNames) {
  test::TestEnv t;
  test::ScratchDir dir;
  test::WriteFile(dir / "VOK1234.TMP", "taken");
  t.fs.SetTempPath(dir.path());
  test::SequenceRandom random(GetParam().draws);
  t.env.random = &random;
  clsGetTempFileName namer;
  EXPECT_EQ(namer.Filename(), dir / GetParam().expected);
  EXPECT_EQ(t.fs.Calls("FindFirst"), GetParam().finds);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GetTempFileNameDraws,
    ::testing::Values(DrawCase{"Free", {0xABCD0042}, "VOK0042.TMP", 1},
                      DrawCase{"TakenDrawnAgain", {0x1234, 0x0001BEEF}, "VOKBEEF.TMP", 2},
                      DrawCase{"AlwaysTaken", {0x1234}, "VOK0000.TMP", 1000}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(GetTempFileName, TwoObjectsDrawDifferentSequences) {
  clsGetTempFileName a, b;
  std::string sa, sb;
  for (int i = 0; i < 4; ++i) {
    sa += a.Filename();
    sb += b.Filename();
  }
  EXPECT_NE(sa, sb);
}

}  // namespace
}  // namespace vok
