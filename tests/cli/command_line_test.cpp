// The command line as a new user meets it: unknown words are named, help
// and version work wherever a user would type them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/child_process.h"

namespace vok::test {
namespace {

struct LineCase {
  const char* name;
  std::vector<std::string> args;
  int status;
  std::string out;  // a text standard output holds; empty: it is empty
  std::string err;  // a text standard error holds; empty: it is empty
};

void PrintTo(const LineCase& c, std::ostream* os) { *os << c.name; }

class CliCommandLine : public ::testing::TestWithParam<LineCase> {};

TEST_P(CliCommandLine, SaysWhatIsWrongOrHelps) {
  const LineCase& c = GetParam();
  const RunResult r = RunCli(c.args);
  EXPECT_EQ(r.status, c.status) << r.out << r.err;
  if (c.out.empty()) {
    EXPECT_EQ(r.out, "");
  } else {
    EXPECT_NE(r.out.find(c.out), std::string::npos) << r.out;
  }
  if (c.err.empty()) {
    EXPECT_EQ(r.err, "");
  } else {
    EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
  }
}

const std::string kCommands = "  invoke ";

INSTANTIATE_TEST_SUITE_P(
    All, CliCommandLine,
    ::testing::Values(
        LineCase{"UnknownCommand", {"foo"}, 64, "", "voktools: unknown command 'foo'; the commands are:\n"},
        LineCase{"UnknownOption", {"--bogus"}, 64, "", "unknown option '--bogus'"},
        LineCase{"NoCommand", {}, 64, "", "a command is needed; the commands are:\n" + kCommands},
        LineCase{"UnknownSubcommand", {"mif", "extrac"}, 64, "",
                 "unknown command 'extrac' for 'mif'; the commands are:\n  extract"},
        LineCase{"MissingSubcommand", {"rtf"}, 64, "", "'rtf' needs a command"},
        LineCase{"Help", {"help"}, 0, "Subcommands:", ""},
        LineCase{"HelpOfACommand", {"help", "rtf", "extract"}, 0, "Usage: voktools rtf extract", ""},
        LineCase{"HelpOfAnUnknownCommand", {"help", "foo"}, 64, "", "unknown command 'foo'"},
        LineCase{"VersionAfterACommand", {"rtf", "--version"}, 0, "voktools ", ""},
        LineCase{"VersionAfterAnOption", {"validate", "-q", "--version"}, 0, "voktools ", ""}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vok::test
