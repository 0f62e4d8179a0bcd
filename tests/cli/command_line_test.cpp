// The command line as a user meets it, and `voktools lines`.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <thread>
#include <tuple>

#include "cli/child_process.h"

namespace vok::test {
namespace {

// Arguments, exit status, and a text standard output (or, when the status is
// not 0, standard error) holds; the other stream is empty.
TEST(CliCommandLine, SaysWhatIsWrongOrHelps) {
  // No window system: the options dialog cannot be shown.
  for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) ::unsetenv(variable);
  const std::tuple<std::string, int, std::string> cases[] = {
      {"foo", 64, "voktools: unknown command 'foo'; the commands are:\n"},
      {"", 64, "a command is needed; the commands are:\n  invoke "},
      {"mif extrac", 64, "unknown command 'extrac' for 'mif'; the commands are:\n  extract"},
      {"help rtf extract", 0, "Usage: voktools rtf extract"},
      {"rtf --version", 0, "voktools 3.1.0"},
      {"tags", 0, "B|0,I|0,U|0,A|0,FONT|1,"},
      {"tags --tags b|1,i|0", 0, "B|1,I|0,\n"},
      {"tags --tags 1x|0, --edit", 64, "voktools tags: --tags: "},
      {"tags --edit", 69, "voktools tags: the options dialog needs a window system"},
      {"validate --edit-tags $DIR/p.htm", 69, "voktools validate: the options dialog needs"},
      // Options that cannot hold for every file named are refused first.
      {"lines --chunk 0 f", 64, "--chunk"},
      {"lines --out /nonexistent/dir f", 64, "--out"},
      {"rtf insert --obj $DIR/o.bin $DIR/a.rtf $DIR/b.rtf", 64, "--obj"},
      {"html2asp --scr $DIR/t.scr $DIR/a.htm $DIR/b.htm", 64, "--scr"},
      {"mif remove-objects --obj $DIR/o.bin $DIR/a.mif $DIR/b.mif", 64, "--obj"},
      {"validate --tags B|0,X, $DIR/p.htm", 64, "voktools validate: --tags: \"X\" is not NAME|FLAG\n"}};
  for (const auto& [args, status, said] : cases) {
    SCOPED_TRACE(args);
    ScratchDir dir;
    const RunResult r = RunCli(Args(args, dir));
    EXPECT_EQ(r.status, status) << r.out << r.err;
    EXPECT_NE((status == 0 ? r.out : r.err).find(said), std::string::npos) << r.out << r.err;
    EXPECT_EQ(status == 0 ? r.err : r.out, "");
    EXPECT_TRUE(dir.Entries().empty());
  }
}

// Every kind of line end, empty lines, and a last line without one; the
// reader's chunks do not change what is counted or copied.
TEST(CliLines, CountsLineEndsAndCopiesByteForByte) {
  const std::string mixed = "first\r\n\nsecond line\rthird\n\r\r\nlast";
  ScratchDir dir;
  std::filesystem::create_directory(dir / "out");
  WriteFile(dir / "mixed.txt", mixed);
  WriteFile(dir / "out/mixed.txt", "old content replaced");
  RunResult r = RunCli(Args("lines $DIR/mixed.txt --out $DIR/out --chunk 2", dir));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, dir / "mixed.txt" +
                       ": 6 lines (CR LF 2, LF 1, CR 1, LF CR 1), last line without line end: "
                       "yes, longest 11 bytes, 33 bytes\n");
  EXPECT_EQ(r.err, "");  // no progress bar unless on a terminal
  EXPECT_EQ(ReadFile(dir / "out/mixed.txt"), mixed);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir / "out"), {}), 1);  // no temporary
  EXPECT_NE(RunCli({"lines", "--json", dir / "mixed.txt"}).out.find(R"("stats":{"lines":6,"cr_lf":2,"lf":1,)"
                                                                    R"("cr":1,"lf_cr":1,"last_line_without_end":true,)"
                                                                    R"("longest":11,"bytes":33}})"),
            std::string::npos);
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
    ASSERT_TRUE(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0);
    int terminal = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
    ASSERT_GE(terminal, 0);
    std::string drawn;
    // Read while the child draws: a full terminal buffer would block it.
    std::thread reader([&] {
      char buf[4096];
      for (ssize_t n; (n = ::read(master, buf, sizeof buf)) > 0;) drawn.append(buf, size_t(n));
    });
    ChildProcess child(Args(std::string("lines --chunk 1000 $DIR/big.txt") + (quiet ? " -q" : ""), dir),
                       "", -1, terminal);
    ::close(terminal);
    const RunResult r = child.Finish();
    EXPECT_EQ(r.status, 0);
    reader.join();  // the read fails once the child's end is closed
    ::close(master);
    EXPECT_EQ(drawn.find(" 50%") != std::string::npos, !quiet) << drawn;
    EXPECT_EQ(drawn.find("100%") != std::string::npos, !quiet) << drawn;
    EXPECT_EQ(r.out.find("1000 lines") != std::string::npos, !quiet);
    EXPECT_EQ(r.out.find('%'), std::string::npos);  // never on standard output
  }
}

}  // namespace
}  // namespace vok::test
