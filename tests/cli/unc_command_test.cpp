// `voktools unc`: network names of paths and their way back.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "cli/child_process.h"
#include "json_text.h"
#include "platform/env.h"
#include "support/fake_network.h"
#include "support/scratch_dir.h"
#include "unc_command.h"

namespace vok::cli {
namespace {

struct UncRun {
  const char* label;
  std::vector<std::string> paths;
  bool use_share, reverse;
  std::string out;
  int status;
  std::vector<std::string> err;  // texts standard error holds; empty: none at all
};

void PrintTo(const UncRun& c, std::ostream* os) { *os << c.label; }

class UncCommandTest : public test::FakeNetwork, public ::testing::TestWithParam<UncRun> {
 protected:
  UncCommandTest() {
    profile.MapDrives({"Z=/mnt/projects", "L=/srv/data", "Y=\\\\fs\\team"});
    shares.listing.entries.push_back(test::Share("Data", "/srv/data"));
  }

  // The run, with the same paths once more with --json.
  std::pair<UncRun, std::vector<Json>> Run(const UncRun& c) {
    ScopedEnv scoped(env);
    UncOptions options{c.paths, c.use_share, false, c.reverse};
    std::ostringstream out, err, json_out, json_err;
    UncRun run = c;
    run.status = RunUnc(options, out, err);
    run.out = out.str();
    run.err = {err.str()};
    options.json = true;
    EXPECT_EQ(RunUnc(options, json_out, json_err), run.status);
    EXPECT_EQ(json_err.str(), run.err[0]);
    return {run, test::JsonLines(json_out.str())};
  }
};

TEST_P(UncCommandTest, PrintsOneLinePerPathAndTheSameAsJson) {
  const UncRun& c = GetParam();
  const auto [run, json] = Run(c);
  EXPECT_EQ(run.status, c.status);
  EXPECT_EQ(run.out, c.out);
  EXPECT_EQ(run.err[0].empty(), c.err.empty()) << run.err[0];
  for (const std::string& said : c.err) EXPECT_NE(run.err[0].find(said), std::string::npos) << run.err[0];
  // Each JSON line names its path and holds what the plain line printed.
  ASSERT_EQ(json.size(), c.paths.size());
  std::istringstream plain(run.out);
  for (size_t i = 0; i < json.size(); ++i) {
    std::string line;
    std::getline(plain, line);
    EXPECT_EQ(json[i]["path"], c.paths[i]);
    const bool resolved = !json[i].contains("reason");
    if (c.reverse) {
      EXPECT_EQ(json[i]["local"], resolved ? Json(line) : Json(nullptr));
    } else {
      EXPECT_EQ(json[i]["network"], resolved);
      if (resolved) {
        EXPECT_EQ(json[i]["name"], line);
      }
    }
    if (!resolved) {
      EXPECT_EQ(line, c.paths[i]);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Runs, UncCommandTest,
    ::testing::Values(
        UncRun{"DrivePosixAndUnresolvedPaths",
               {"Z:\\a.mif", "/mnt/projects/c d.mif", "Y:\\x", "L:\\x.txt", "Q:\\x.txt", "docs/a.txt",
                "/etc/hosts"},
               false, false,
               "\\\\FileServer\\Projects\\a.mif\n\\\\FileServer\\Projects\\c d.mif\n\\\\fs\\team\\x\n"
               "L:\\x.txt\nQ:\\x.txt\ndocs/a.txt\n/etc/hosts\n",
               1,
               {"L:\\x.txt: not a network drive: L: is /srv/data, not on a network mount\n",
                "Q: is not in the drive map ([Drives] of ", "docs/a.txt: no drive letter",
                "/etc/hosts: not on a network mount\n"}},
        UncRun{"LocalFolderThroughItsShare", {"L:\\x.txt", "/srv/data/y"}, true, false,
               "\\\\PC\\Data\\x.txt\n\\\\PC\\Data\\y\n", 0, {}},
        UncRun{"Reverse",
               {"\\\\fileserver\\projects\\a.mif", "//FileServer/Projects/m/b.mif", "\\\\pc\\data\\x",
                "\\\\elsewhere\\share\\a.mif", "Z:\\a.mif"},
               false, true,
               "/mnt/projects/a.mif\n/mnt/projects/m/b.mif\n/srv/data/x\n\\\\elsewhere\\share\\a.mif\nZ:\\a.mif\n",
               1, {"\\\\elsewhere\\share\\a.mif: not mounted here", "Z:\\a.mif: not a network name"}}));

TEST_F(UncCommandTest, AnUnreadableShareListIsWarnedAbout) {
  shares.listing.names_only = true;
  const auto [run, json] = Run({"NamesOnly", {"L:\\x.txt"}, true, false, "", 0, {}});
  EXPECT_EQ(run.status, kUncUnresolved);
  EXPECT_NE(run.err[0].find("voktools: warning: the machine's share list"), std::string::npos);
}

// The command itself: the drive map in the INI file of $VOKTOOLS_WINDIR,
// this machine's mounts, and usage errors.
TEST(UncCliTest, DriveMapFromTheIniFile) {
  test::ScratchDir dir;
  test::WriteFile(dir / "VOK Tools.ini", "[Drives]\nq=" + dir.path() + "\nY=//fs/team\n");
  std::optional<std::string> saved;
  if (const char* old = std::getenv("VOKTOOLS_WINDIR")) saved = old;
  ::setenv("VOKTOOLS_WINDIR", dir.path().c_str(), 1);
  test::RunResult local = test::RunCli({"unc", "Q:\\a.mif", "Y:\\b.mif"});
  test::RunResult json = test::RunCli({"unc", "--json", "Y:\\b.mif"});
  test::RunResult usage = test::RunCli({"unc", "--reverse", "--use-share", "\\\\a\\b"});
  test::RunResult none = test::RunCli({"unc"});
  saved ? ::setenv("VOKTOOLS_WINDIR", saved->c_str(), 1) : ::unsetenv("VOKTOOLS_WINDIR");

  EXPECT_EQ(local.status, 1);
  EXPECT_EQ(local.out, "Q:\\a.mif\n\\\\fs\\team\\b.mif\n");
  EXPECT_NE(local.err.find("Q: is " + dir.path() + ", not on a network mount"), std::string::npos)
      << local.err;
  EXPECT_EQ(json.status, 0);
  EXPECT_EQ(Json::parse(json.out),
            Json::parse(R"({"path":"Y:\\b.mif","name":"\\\\fs\\team\\b.mif","network":true})"));
  EXPECT_EQ(usage.status, 64);
  EXPECT_EQ(none.status, 64);
}

}  // namespace
}  // namespace vok::cli
