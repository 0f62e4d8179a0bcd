// clsUNCName through doubles of the drive map, the mount table, the share
// list and the machine.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "frame/with_env.h"
#include "platform/env.h"
#include "support/fake_network.h"
#include "voktools/unc_name.h"

namespace vok::test {

using UncFixture = FakeNetwork;

struct UncCase {
  const char* label;
  std::string filename;
  std::vector<std::string> drives;
  bool use_share;
  ShareListing shares;
  std::string expected;
  std::optional<bool> need_admin;  // nothing: stays as it was (true)
  uint32_t platform_id = 0;
};

void PrintTo(const UncCase& c, std::ostream* os) { *os << c.label; }

class GetUNCNameTest : public UncFixture, public ::testing::TestWithParam<UncCase> {};

TEST_P(GetUNCNameTest, Resolves) {
  const UncCase& c = GetParam();
  profile.MapDrives(c.drives);
  shares.listing = c.shares;
  machine.version.platform_id = c.platform_id;
  WithEnv<clsUNCName> unc(env);
  unc.Filename(c.filename);
  unc.UseShare(c.use_share);
  unc.uncNeedAdminPrivs(true);
  EXPECT_EQ(unc.GetUNCName(), c.expected);
  EXPECT_EQ(unc.uncNeedAdminPrivs(), c.need_admin.value_or(true));
}

const ShareListing kNoShares;
const ShareListing kData{true, false, {Share("DATA", "C:\\DATA")}};
const ShareListing kRootFirst{true, false, {Share("C", "C:\\"), Share("DATA", "C:\\DATA")}};
const ShareListing kDataFirst{true, false, {Share("DATA", "c:\\data"), Share("C", "C:\\")}};
const ShareListing kPrinterFirst{true, false, {Share("LP", "C:\\", 1), Share("DATA", "C:\\DATA")}};
const ShareListing kNamesOnly{true, true, {Share("DATA", ""), Share("C", "")}};
const ShareListing kUnreadable{false, false, {}};
const ShareListing kLocal{true, false, {Share("Srv", "/SRV/data/")}};

INSTANTIATE_TEST_SUITE_P(
    Cases, GetUNCNameTest,
    ::testing::Values(
        UncCase{"UncPathUnchanged", "\\\\server\\share\\x", {}, true, kData, "\\\\server\\share\\x"},
        UncCase{"RelativeUnchanged", "docs\\a.txt", {}, true, kData, "docs\\a.txt"},
        UncCase{"EmptyUnchanged", "", {}, true, kData, ""},
        UncCase{"OneCharacterUnchanged", "C", {}, true, kData, "C"},
        UncCase{"NotALetter", "@:\\DATA\\x.txt", {"@=/mnt/projects"}, true, kData, "@:\\DATA\\x.txt"},
        UncCase{"LowerCaseDrive", "z:\\a.mif", {"Z=/mnt/projects"}, false, kData,
                "\\\\FileServer\\Projects\\a.mif"},
        UncCase{"FolderBelowTheMount", "Z:\\m\\a.mif", {"Z=/mnt/projects/manuals/"}, false, kData,
                "\\\\FileServer\\Projects\\manuals\\m\\a.mif"},
        UncCase{"DriveRootAlone", "Z:", {"Z=/mnt/projects"}, false, kData,
                "\\\\FileServer\\Projects"},
        UncCase{"DriveMappedToAShare", "Y:\\a\\b.rtf", {"Y=//fs/team"}, false, kData,
                "\\\\fs\\team\\a\\b.rtf"},
        UncCase{"LocalFolderWithoutUseShare", "L:\\x.txt", {"L=/srv/data"}, false, kLocal,
                "L:\\x.txt"},
        UncCase{"UnmappedWithoutUseShare", "C:\\DATA\\x.txt", {}, false, kData, "C:\\DATA\\x.txt"},
        UncCase{"FolderShare", "C:\\DATA\\x.txt", {}, true, kData, "\\\\PC\\DATA\\x.txt", false},
        UncCase{"DriveRootShareFirst", "C:\\DATA\\x.txt", {}, true, kRootFirst,
                "\\\\PC\\C\\DATA\\x.txt", false},
        UncCase{"FolderShareFirstAnyCase", "C:\\DATA\\x.txt", {}, true, kDataFirst,
                "\\\\PC\\DATA\\x.txt", false},
        UncCase{"PlainPrefix", "C:\\DATABASE\\x.txt", {}, true, kData, "\\\\PC\\DATA\\BASE\\x.txt",
                false},
        UncCase{"PrintersPassedOver", "C:\\DATA\\x.txt", {}, true, kPrinterFirst,
                "\\\\PC\\DATA\\x.txt", false},
        UncCase{"NoMatchingShare", "D:\\x.txt", {}, true, kData, "D:\\x.txt", false},
        UncCase{"NoShares", "C:\\DATA\\x.txt", {}, true, kNoShares, "C:\\DATA\\x.txt", false},
        UncCase{"NamesOnly", "C:\\DATA\\x.txt", {}, true, kNamesOnly, "C:\\DATA\\x.txt", true},
        UncCase{"UnreadableList", "C:\\DATA\\x.txt", {}, true, kUnreadable, "C:\\DATA\\x.txt", false},
        UncCase{"LocalFolderThroughItsShare", "L:\\x\\y.txt", {"L=/srv/data"}, true, kLocal,
                "\\\\PC\\Srv\\x\\y.txt", false},
        UncCase{"OlderFamilyAppendsToTheDrive", "Z:a.mif", {"Z=/mnt/projects"}, false, kData,
                "\\\\FileServer\\Projectsa.mif", std::nullopt, 1},
        UncCase{"OlderFamilyKeepsTheFlag", "C:\\DATA\\x.txt", {}, true, kNamesOnly,
                "C:\\DATA\\x.txt", std::nullopt, 1}));

class UncNameTest : public UncFixture, public ::testing::Test {};

TEST_F(UncNameTest, AnUnreadableMountTableGivesTheEmptyText) {
  mounts.fail = true;
  profile.MapDrives({"Z=/mnt/projects"});
  WithEnv<clsUNCName> unc(env);
  unc.Filename("Z:\\a.mif");
  EXPECT_EQ(unc.GetUNCName(), "");
  unc.Filename("Q:\\a.mif");  // not mapped: the mount table is not asked
  EXPECT_EQ(unc.GetUNCName(), "Q:\\a.mif");
  EXPECT_EQ(unc.GetUNCNameOfLocalPath("/mnt/projects/a.mif"), "");
}

TEST_F(UncNameTest, FamilyFromTheVersionRecordReadOnce) {
  struct Family {
    uint32_t platform_id, minor;
    bool nt, older;
  };
  for (const Family f : {Family{0, 8, false, false}, Family{1, 0, false, true},
                         Family{1, 10, false, false}, Family{2, 0, true, false}}) {
    machine.version.platform_id = f.platform_id;
    machine.version.minor = f.minor;
    machine.version_reads = 0;
    WithEnv<clsUNCName> unc(env);
    EXPECT_EQ(unc.IsWinNT(), f.nt) << f.platform_id;
    EXPECT_EQ(unc.IsWin95(), f.older) << f.platform_id << "." << f.minor;
    machine.version.platform_id = 7;
    EXPECT_EQ(unc.IsWinNT(), f.nt);
    EXPECT_EQ(machine.version_reads, 1);
  }
}

TEST_F(UncNameTest, MachineNameFitsFifteenCharacters) {
  WithEnv<clsUNCName> unc(env);
  for (const auto& [host, expected] : std::vector<std::pair<std::string, std::string>>{
           {"build-host-0123", "BUILD-HOST-0123"}, {"build-host-01234", ""}, {"pc", "PC"}}) {
    machine.host = host;
    EXPECT_EQ(unc.CurrentMachineName(), expected);
  }
  machine.fail = true;
  EXPECT_EQ(unc.CurrentMachineName(), "");
}

}  // namespace vok::test
