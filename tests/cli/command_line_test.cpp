// The command line as a user meets it, and `voktools lines`.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "cli/child_process.h"

namespace vok::test {
namespace {

struct LineCase {
  std::string args;  // split at spaces
  int status;
  std::string out;  // a text standard output holds; empty: it is empty
  std::string err;  // a text standard error holds; empty: it is empty
};

void PrintTo(const LineCase& c, std::ostream* os) { *os << c.args; }

class CliCommandLine : public ::testing::TestWithParam<LineCase> {};

TEST_P(CliCommandLine, SaysWhatIsWrongOrHelps) {
  const LineCase& c = GetParam();
  ScratchDir dir;
  const RunResult r = RunCli(Args(c.args, dir));
  EXPECT_EQ(r.status, c.status) << r.out << r.err;
  EXPECT_EQ(r.out.find(c.out) != std::string::npos, !c.out.empty() || r.out.empty()) << r.out;
  EXPECT_EQ(r.err.find(c.err) != std::string::npos, !c.err.empty() || r.err.empty()) << r.err;
  EXPECT_TRUE(dir.Entries().empty());
}

INSTANTIATE_TEST_SUITE_P(
    All, CliCommandLine,
    ::testing::Values(
        LineCase{"foo", 64, "", "voktools: unknown command 'foo'; the commands are:\n"},
        LineCase{"--bogus", 64, "", "unknown option '--bogus'"},
        LineCase{"", 64, "", "a command is needed; the commands are:\n  invoke "},
        LineCase{"mif extrac", 64, "", "unknown command 'extrac' for 'mif'; the commands are:\n  extract"},
        LineCase{"rtf", 64, "", "'rtf' needs a command"},
        LineCase{"help", 0, "Subcommands:", ""},
        LineCase{"help rtf extract", 0, "Usage: voktools rtf extract", ""},
        LineCase{"help foo", 64, "", "unknown command 'foo'"},
        LineCase{"rtf --version", 0, "voktools 3.1.0", ""},
        LineCase{"validate -q --version", 0, "voktools ", ""},
        LineCase{"lines --help", 0, "--chunk", ""},
        LineCase{"invoke --help", 0, "{\"hex\":\"68ff\"}", ""},
        LineCase{"tags", 0, "B|0,I|0,U|0,A|0,FONT|1,", ""},
        // Options that cannot hold for every file named are refused first.
        LineCase{"lines --bogus f", 64, "", "--bogus"},
        LineCase{"lines", 64, "", "FILE"},
        LineCase{"lines --chunk 0 f", 64, "", "--chunk"},
        LineCase{"lines --chunk x f", 64, "", "--chunk"},
        LineCase{"lines --out /nonexistent/dir f", 64, "", "--out"},
        LineCase{"rtf insert --obj $DIR/o.bin $DIR/a.rtf $DIR/b.rtf", 64, "", "--obj"},
        LineCase{"asp2html --htm $DIR/t.htm $DIR/a.asp $DIR/b.asp", 64, "", "--htm"},
        LineCase{"html2asp --scr $DIR/t.scr $DIR/a.htm $DIR/b.htm", 64, "", "--scr"},
        LineCase{"mif remove-objects --obj $DIR/o.bin $DIR/a.mif $DIR/b.mif", 64, "", "--obj"},
        LineCase{"validate --tags B|0,X, $DIR/p.htm", 64, "",
                 "voktools validate: --tags: \"X\" is not NAME|FLAG\n"},
        LineCase{"lines /nonexistent/file", 1, "", "cannot open the file: No such file or directory"},
        LineCase{"lines /dev/null", 1, "",
                 "voktools: error: /dev/null: cannot open the file: not a regular file\n"}));

// Every kind of line end, empty lines, and a last line without one; small
// chunks put CR LF and LF CR pairs across chunk boundaries.
TEST(CliLines, CountsLineEndsAndCopiesByteForByteAtAnyChunkSize) {
  const std::string mixed = "first\r\n\nsecond line\rthird\n\r\r\nlast";
  for (int chunk : {1, 2, 3, 7, 4096}) {
    ScratchDir dir;
    std::filesystem::create_directory(dir / "out");
    WriteFile(dir / "mixed.txt", mixed);
    WriteFile(dir / "out/mixed.txt", "old content replaced");
    RunResult r = RunCli(Args("lines $DIR/mixed.txt --out $DIR/out --chunk " + std::to_string(chunk), dir));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, dir / "mixed.txt" +
                         ": 6 lines (CR LF 2, LF 1, CR 1, LF CR 1), last line without line end: "
                         "yes, longest 11 bytes, 33 bytes\n");
    EXPECT_EQ(r.err, "");  // no progress bar on a pipe
    EXPECT_EQ(ReadFile(dir / "out/mixed.txt"), mixed);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir / "out"), {}), 1);  // no temporary
  }
}

TEST(CliLines, JsonReportsEachFileAndTheWorstResult) {
  ScratchDir dir;
  WriteFile(dir / "a.txt", "x\n");
  std::filesystem::create_directory(dir / "out");
  RunResult r = RunCli(Args("lines --json --out $DIR/out $DIR/a.txt $DIR/gone.txt", dir));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out.find(InDir(R"({"result":0,"errors":[],"warnings":[],"files":{"Filename":"$DIR/a.txt",)"
                             R"("Output":"$DIR/out/a.txt"})", dir)), 0u) << r.out;
  EXPECT_NE(r.out.find(R"("lf":1)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(InDir(R"({"result":1,"errors":["$DIR/gone.txt: cannot open the file: )", dir)),
            std::string::npos) << r.out;
}

// On a terminal the bar is drawn and cleared again; --quiet draws nothing,
// and leaves out the report of a file that succeeded.
TEST(CliLines, ProgressBarDrawnOnATerminalUnlessQuiet) {
  ScratchDir dir;
  std::string text;
  for (int i = 0; i < 1000; ++i) text += std::string(99, 'x') + "\n";
  WriteFile(dir / "big.txt", text);
  for (const bool quiet : {false, true}) {
    int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    int terminal = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
    ASSERT_GE(terminal, 0);
    std::string drawn, out;
    // Read while the child draws: a full terminal buffer would block it.
    std::thread reader([&] {
      char buf[4096];
      for (ssize_t n; (n = ::read(master, buf, sizeof buf)) > 0;) drawn.append(buf, size_t(n));
    });
    ChildProcess child(Args(std::string("lines --chunk 1000 $DIR/big.txt") + (quiet ? " -q" : ""), dir),
                       terminal);
    ::close(terminal);
    EXPECT_EQ(child.Finish(&out), 0);
    reader.join();  // the read fails once the child's end is closed
    ::close(master);
    EXPECT_EQ(drawn.find(" 50%") != std::string::npos, !quiet) << drawn;
    EXPECT_EQ(drawn.find("100%") != std::string::npos, !quiet) << drawn;
    EXPECT_EQ(out.find("1000 lines") != std::string::npos, !quiet);
    EXPECT_EQ(out.find('%'), std::string::npos);  // never on standard output
  }
}

}  // namespace
}  // namespace vok::test
