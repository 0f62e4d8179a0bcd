#include <gtest/gtest.h>

#include <vector>

#include "support/fault_file_system.h"
#include "support/scratch_dir.h"
#include "voktools/temp_file_name.h"

namespace vok {
namespace {

// Names come from the environment's random source (its low 16 bits, in
// upper-case hex); a name a file already has is drawn again, and after 1000
// draws the fixed name is taken.
TEST(GetTempFileName, DrawsFreeNamesInTheTemporaryFolder) {
  struct Case {
    std::vector<uint32_t> draws;  // the last one repeats
    std::string expected;         // in the folder
    int finds;
  } const cases[] = {{{0xABCD0042}, "VOK0042.TMP", 1},
                     {{0x1234, 0x0001BEEF}, "VOKBEEF.TMP", 2},
                     {{0x1234}, "VOK0000.TMP", 1000}};
  test::ScratchDir dir;
  test::WriteFile(dir / "VOK1234.TMP", "taken");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    test::TestEnv t;
    t.fs.SetTempPath(dir.path().substr(0, dir.path().size() - 1));  // a separator is added
    test::SequenceRandom random(c.draws);
    t.env.random = &random;
    clsGetTempFileName namer;
    EXPECT_EQ(namer.Folder(), dir.path());
    EXPECT_EQ(namer.Filename(), dir / c.expected);
    EXPECT_EQ(t.fs.Calls("FindFirst"), c.finds);
  }
}

TEST(GetTempFileName, NoTemporaryFolderAfterAThousandAsksFallsBack) {
  test::TestEnv t;
  t.fs.SetTempPath("");
  clsGetTempFileName namer;
  EXPECT_EQ(t.fs.Calls("TempPath"), 1000);
  EXPECT_EQ(namer.Folder(), "/tmp/");
}

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
