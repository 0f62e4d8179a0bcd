// Mount tables and share lists as the machine writes them.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/network.h"
#include "support/scratch_dir.h"

namespace vok {
namespace {

using test::ScratchDir;
using test::WriteFile;

// Captured from machines with CIFS and NFS mounts; a bind mount of a folder
// of a share, a blank escaped in a mount point, mounts inside mounts, a
// share mounted at a folder of its own, and a line that is cut short.
constexpr std::string_view kMountInfo =
    "21 1 253:1 / / rw,relatime shared:1 - ext4 /dev/mapper/root rw\n"
    "35 21 0:44 / /mnt/projects rw,relatime shared:20 - cifs //FileServer/Projects "
    "rw,vers=3.1.1,cache=strict\n"
    "36 35 0:45 / /mnt/projects/archive rw,relatime - nfs4 nas:/export/archive rw,vers=4.2\n"
    "37 21 0:44 /manuals /home/ann/manuals rw,relatime shared:20 - cifs //FileServer/Projects rw\n"
    "38 21 0:46 / /mnt/team\\040docs rw shared:22 master:3 - smb3 //fs2/Team\\040Docs rw\n"
    "39 21 0:47 / /mnt/home rw - nfs 10.0.0.5:/srv/home/ rw\n"
    "40 21 0:48 /sub /mnt/deep rw - cifs //fs3/share/sub rw\n"
    "41 21 0:49 / /mnt/proj rw - tmpfs tmpfs rw\n"
    "42 21 0:50 / /mnt/cut rw - cifs\n";

// The network name of a path comes from the mount holding it, and leads back
// to that path (a folder of a share mounted twice goes to its most specific
// mount).
TEST(MountInfoTest, NetworkNamesFromTheMountHoldingThePathAndBack) {
  const std::vector<Mount> mounts = ParseMountInfo(kMountInfo);
  const std::pair<const char*, std::optional<std::string>> cases[] = {
      {"/mnt/projects/a.mif", "\\\\FileServer\\Projects\\a.mif"},
      {"/mnt/projects", "\\\\FileServer\\Projects"},
      {"/mnt/projects/", "\\\\FileServer\\Projects"},
      {"/mnt/projects//x/y.txt", "\\\\FileServer\\Projects\\x\\y.txt"},
      {"/mnt/projects/archive/1999/a.doc", "\\\\nas\\export\\archive\\1999\\a.doc"},
      {"/mnt/projectsX/a.mif", std::nullopt},  // a prefix, but not a folder of it
      {"/mnt/proj/a.mif", std::nullopt},       // tmpfs
      {"/home/ann/manuals/m.mif", "\\\\FileServer\\Projects\\manuals\\m.mif"},
      {"/mnt/team docs/plan.rtf", "\\\\fs2\\Team Docs\\plan.rtf"},
      {"/mnt/home/ann", "\\\\10.0.0.5\\srv\\home\\ann"},
      {"/mnt/deep/x", "\\\\fs3\\share\\sub\\x"},
      {"/mnt/cut/x", std::nullopt},
      {"/etc/passwd", std::nullopt},
  };
  for (const auto& [path, network] : cases) {
    SCOPED_TRACE(path);
    EXPECT_EQ(NetworkName(mounts, path), network);
    const std::string p = path;
    if (network && p.find("//") == std::string::npos && p.back() != '/') {
      EXPECT_EQ(LocalPathOf(mounts, *network), p);
    }
  }
  EXPECT_EQ(LocalPathOf(mounts, "//fileserver/PROJECTS/a b/c"), "/mnt/projects/a b/c");
  EXPECT_EQ(LocalPathOf(mounts, "\\\\fileserver\\ProjectsOld\\c"), std::nullopt);
  EXPECT_EQ(LocalPathOf(mounts, "\\\\elsewhere\\Projects\\c"), std::nullopt);
}

TEST(MountInfoTest, MalformedLinesArePassedOverAndLaterMountsHideEarlierOnes) {
  const std::vector<Mount> mounts =
      ParseMountInfo("garbage\n\n1 0 0:1 / /m rw - ext4 /dev/a rw\n"
                     "2 0 0:2 / /m rw - nfs srv:/e rw\n");
  ASSERT_EQ(mounts.size(), 2u);
  EXPECT_EQ(NetworkName(mounts, "/m/f"), "\\\\srv\\e\\f");
  EXPECT_EQ(MountHolding(mounts, "/x"), nullptr);
}

constexpr std::string_view kSmbConf =
    "# Samba configuration\n"
    "[global]\n"
    "   workgroup = TEAM\n"
    "   usershare path = /var/lib/samba/usershares\n"
    "   path = /nowhere\n"
    "[homes]\n"
    "   path = /home/%S\n"
    "[printers]\n"
    "   path = /var/spool/samba\n"
    "   printable = yes\n"
    "[Data]\n"
    "   comment = Team data\n"
    "   Path = /srv/data\n"
    "[labels]\n"
    "   path = /var/spool/labels\n"
    "   print ok = Yes\n"
    "; [Old]\n"
    "[NoPath]\n"
    "   read only = no\n"
    "[Long Name]\n"
    "   path = /srv/a\\\n"
    "long/folder\n"
    "[data]\n"
    "   comment = the same section again\n"
    "[Root]\r\n"
    "\tpath=/\r\n";

TEST(SambaConfigTest, DiskSharesWithPathsInOrder) {
  const std::vector<ShareEntry> shares = ParseSambaShares(kSmbConf);
  std::vector<std::string> seen;
  for (const ShareEntry& s : shares) {
    EXPECT_EQ(s.type, 0);
    seen.push_back(s.name + "=" + s.path + "|" + s.remark);
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"Data=/srv/data|the same section again",
                                            "Long Name=/srv/along/folder|", "Root=/|"}));
  EXPECT_EQ(UserShareFolder(kSmbConf), "/var/lib/samba/usershares");
  EXPECT_EQ(UserShareFolder("[data]\nusershare path = /x\n"), "");
}

TEST(SambaConfigTest, UserShareFilesAndInfoOutput) {
  std::optional<ShareEntry> file =
      ParseUserShare("#VERSION 2\npath=/home/ann/Public\ncomment=\nusershare_acl=S-1-1-0:R\n"
                     "guest_ok=n\nsharename=Ann Public\n",
                     "ann public");
  ASSERT_TRUE(file);
  EXPECT_EQ(file->name, "Ann Public");
  EXPECT_EQ(file->path, "/home/ann/Public");
  std::optional<ShareEntry> info =
      ParseUserShare("[pics]\npath=/home/ann/Pictures\ncomment=holiday\n", "");
  ASSERT_TRUE(info);
  EXPECT_EQ(info->name + "=" + info->path + "|" + info->remark, "pics=/home/ann/Pictures|holiday");
  EXPECT_FALSE(ParseUserShare("#VERSION 2\ncomment=x\n", "broken"));
}

TEST(SambaShareListTest, ConfigurationThenUserSharesAndUnreadableParts) {
  ScratchDir dir;
  ::mkdir((dir / "us").c_str(), 0755);
  WriteFile(dir / "smb.conf", "[global]\nusershare path = " + (dir / "us") + "\n[Data]\npath=/srv/data\n");
  WriteFile(dir / "us/b", "path=/b\nsharename=B\n");
  WriteFile(dir / "us/a", "path=/a\n");
  ShareListing listing = SambaShareList(dir / "smb.conf", "/nonexistent").Read();
  ASSERT_TRUE(listing.ok);
  EXPECT_FALSE(listing.names_only);
  std::vector<std::string> seen;
  for (const ShareEntry& s : listing.entries) seen.push_back(s.name + "=" + s.path);
  EXPECT_EQ(seen, (std::vector<std::string>{"Data=/srv/data", "a=/a", "B=/b"}));

  EXPECT_TRUE(SambaShareList(dir / "missing.conf", dir / "missing").Read().entries.empty());
  // Unreadable, even for root: a folder where a file should be.
  ::unlink((dir / "us/b").c_str());
  ::mkdir((dir / "us/b").c_str(), 0755);
  listing = SambaShareList(dir / "smb.conf", "/nonexistent").Read();
  EXPECT_TRUE(listing.names_only);
  seen.clear();
  for (const ShareEntry& s : listing.entries) seen.push_back(s.name + "=" + s.path);
  EXPECT_EQ(seen, (std::vector<std::string>{"Data=", "a=", "b="}));
  ::mkdir((dir / "conf.d").c_str(), 0755);
  EXPECT_TRUE(SambaShareList(dir / "conf.d", dir / "missing").Read().names_only);
}

// This machine: only what is sure whatever it mounts and shares.
TEST(RealMachineTest, RootFileSystemIsNotOnTheNetworkAndSharesAreDiskShares) {
  std::vector<Mount> mounts;
  ASSERT_TRUE(ProcMountTable().Read(&mounts).ok());
  const Mount* root = MountHolding(mounts, "/");
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->mount_point, "/");
  if (NetworkRoot(*root)) GTEST_SKIP() << "the root file system is a network mount here";
  EXPECT_EQ(NetworkName(mounts, "/"), std::nullopt);
  const ShareListing shares = SambaShareList().Read();
  for (const ShareEntry& s : shares.entries) {
    EXPECT_FALSE(s.name.empty());
    EXPECT_EQ(s.type, 0);
    if (shares.names_only) {
      EXPECT_EQ(s.path, "");
    }
  }
  std::string host;
  EXPECT_TRUE(PosixMachineInfo().HostName(&host).ok());
  EXPECT_FALSE(host.empty());
  const PlatformVersion version = PosixMachineInfo().Version();
  EXPECT_GT(version.major, 0u);
  EXPECT_NE(version.platform_id, 1u);
  EXPECT_NE(version.platform_id, 2u);
}

}  // namespace
}  // namespace vok
