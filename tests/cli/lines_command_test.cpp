// `voktools lines` and the command's exit statuses.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "cli/child_process.h"
#include "support/scratch_dir.h"

namespace vok::test {
namespace {

// Every kind of line end, empty lines, and a last line without one.
const std::string kMixed = "first\r\n\nsecond line\rthird\n\r\r\nlast";

std::vector<std::string> Entries(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    names.push_back(e.path().filename().string());
  }
  return names;
}

class CliLinesCopy : public ::testing::TestWithParam<int> {};

// Small chunks put CR LF and LF CR pairs across chunk boundaries.
TEST_P(CliLinesCopy, CountsLineEndsAndCopiesByteForByte) {
  ScratchDir dir;
  std::filesystem::create_directory(dir / "out");
  WriteFile(dir / "mixed.txt", kMixed);
  RunResult r = RunCli(
      {"lines", dir / "mixed.txt", "--out", dir / "out", "--chunk", std::to_string(GetParam())});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, dir / "mixed.txt" +
                       ": 6 lines (CR LF 2, LF 1, CR 1, LF CR 1), last line without line end: "
                       "yes, longest 11 bytes, 33 bytes\n");
  EXPECT_EQ(r.err, "");  // no progress bar on a pipe
  EXPECT_EQ(ReadFile(dir / "out/mixed.txt"), kMixed);
  EXPECT_EQ(Entries(dir / "out"), std::vector<std::string>{"mixed.txt"});  // no temporary left
}

INSTANTIATE_TEST_SUITE_P(All, CliLinesCopy, ::testing::Values(1, 2, 3, 7, 4096));

TEST(CliLinesCommand, JsonReportsEachFileAndTheWorstResult) {
  ScratchDir dir;
  WriteFile(dir / "a.txt", "x\n");
  std::filesystem::create_directory(dir / "out");
  WriteFile(dir / "out/a.txt", "old content replaced");
  RunResult r = RunCli({"lines", "--json", "--out", dir / "out", dir / "a.txt", dir / "gone.txt"});
  EXPECT_EQ(r.status, 1);
  std::vector<nlohmann::json> reports;
  for (size_t b = 0, e; (e = r.out.find('\n', b)) != std::string::npos; b = e + 1) {
    reports.push_back(nlohmann::json::parse(r.out.substr(b, e - b)));
  }
  ASSERT_EQ(reports.size(), 2u) << r.out;
  EXPECT_EQ(reports[0]["result"], 0);
  EXPECT_EQ(reports[0]["errors"], nlohmann::json::array());
  EXPECT_EQ(reports[0]["files"],
            (nlohmann::json{{"Filename", dir / "a.txt"}, {"Output", dir / "out/a.txt"}}));
  EXPECT_EQ(reports[0]["stats"]["lf"], 1);
  EXPECT_EQ(ReadFile(dir / "out/a.txt"), "x\n");
  EXPECT_EQ(reports[1]["result"], 1);
  EXPECT_EQ(reports[1]["files"], (nlohmann::json{{"Filename", dir / "gone.txt"}}));
  EXPECT_EQ(reports[1]["errors"],
            nlohmann::json::array(
                {dir / "gone.txt" + ": cannot open the file: No such file or directory"}));
}

struct ExitCase {
  std::string name;
  std::vector<std::string> args;
  int status;
  std::string in_output;  // expected in stdout + stderr
};

void PrintTo(const ExitCase& c, std::ostream* os) { *os << c.name; }

class CliExitStatus : public ::testing::TestWithParam<ExitCase> {};

TEST_P(CliExitStatus, MatchesTheOutcome) {
  RunResult r = RunCli(GetParam().args);
  EXPECT_EQ(r.status, GetParam().status) << r.out << r.err;
  EXPECT_NE((r.out + r.err).find(GetParam().in_output), std::string::npos) << r.out << r.err;
}

const ExitCase kExitCases[] = {
    {"Help", {"--help"}, 0, "invoke"},
    {"Version", {"--version"}, 0, "3.1.0"},
    {"LinesHelp", {"lines", "--help"}, 0, "--chunk"},
    {"InvokeHelp", {"invoke", "--help"}, 0, "{\"hex\":\"68ff\"}"},
    {"NoSubcommand", {}, 64, "a command is needed"},
    {"UnknownOption", {"lines", "--bogus", "f"}, 64, "--bogus"},
    {"NoFiles", {"lines"}, 64, "FILE"},
    {"ChunkZero", {"lines", "--chunk", "0", "f"}, 64, "--chunk"},
    {"ChunkNotNumber", {"lines", "--chunk", "x", "f"}, 64, "--chunk"},
    {"OutNotAFolder", {"lines", "--out", "/nonexistent/dir", "f"}, 64, "--out"},
    {"FileMissing", {"lines", "/nonexistent/file"}, 1, "cannot open"},
};

INSTANTIATE_TEST_SUITE_P(All, CliExitStatus, ::testing::ValuesIn(kExitCases),
                         [](const auto& info) { return info.param.name; });

class CliProgressBar : public ::testing::TestWithParam<bool> {};

// On a terminal the bar is drawn and cleared again; --quiet draws nothing.
TEST_P(CliProgressBar, DrawnOnATerminalUnlessQuiet) {
  const bool quiet = GetParam();
  ScratchDir dir;
  std::string text;
  for (int i = 0; i < 1000; ++i) text += std::string(99, 'x') + "\n";
  WriteFile(dir / "big.txt", text);
  int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(::grantpt(master), 0);
  ASSERT_EQ(::unlockpt(master), 0);
  int terminal = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
  ASSERT_GE(terminal, 0);
  std::vector<std::string> args{"lines", "--chunk", "1000", dir / "big.txt"};
  if (quiet) args.push_back("--quiet");
  std::string drawn;
  // Read while the child draws: a full terminal buffer would block it.
  std::thread reader([&] {
    char buf[4096];
    for (ssize_t n; (n = ::read(master, buf, sizeof buf)) > 0;) drawn.append(buf, size_t(n));
  });
  ChildProcess child(args, terminal);
  ::close(terminal);
  std::string out;
  EXPECT_EQ(child.Finish(&out), 0);
  reader.join();  // the read fails once the child's end is closed
  ::close(master);
  EXPECT_EQ(drawn.find("100%") != std::string::npos, !quiet) << drawn;
  EXPECT_EQ(drawn.find(" 50%") != std::string::npos, !quiet) << drawn;
  // Quiet leaves out the report of a file that succeeded.
  EXPECT_EQ(out.find("1000 lines") != std::string::npos, !quiet);
  EXPECT_EQ(out.find('%'), std::string::npos);  // never on standard output
}

INSTANTIATE_TEST_SUITE_P(All, CliProgressBar, ::testing::Bool());

}  // namespace
}  // namespace vok::test
