// A library call that fails part way (through the fault-injecting file
// system): each command reports the file's failure with its reason, leaves
// the file as it was, and goes on with the next file.
#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "asp_command.h"
#include "cli/child_process.h"
#include "mif_command.h"
#include "rtf_command.h"
#include "support/fault_file_system.h"
#include "validate_command.h"

namespace vok::test {
namespace {

using Run = std::function<int(const std::vector<std::string>&, cli::Reporter&, std::ostream& out,
                             std::ostream& err)>;

struct FailureCase {
  const char* name;
  Files before;
  std::function<void(FaultFileSystem&)> fault;
  Run run;
  bool json;
  int status;
  std::vector<std::string> out, err;  // texts each stream holds
  std::vector<std::string> entries;   // the folder afterwards
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

Run Validate(bool json) {
  return [json](auto& files, auto& reporter, auto& out, auto& err) {
    return cli::RunValidate({.files = files, .diff = true, .json = json}, reporter, out, err);
  };
}

const std::string kPage = "x > y\r\n<b>z\r\n";

const FailureCase kCases[] = {
    {"Asp2HtmlWrite", {{"a.asp", "<p><%=x%></p>"}, {"b.asp", "<%=y%>"}},
     [](FaultFileSystem& fs) { fs.FailNthWrite(1, EIO); },
     [](auto& files, auto& reporter, auto&, auto&) { return cli::RunAsp2Html({.files = files}, reporter); },
     true, 1,
     {R"({"result":1,"errors":["ASP2HTML : )", R"("Error 57 : Device I/O error: Input/output error"],)",
      "}}\n{\"result\":0,\"errors\":[\"ASP2HTML : "},
     {"100%"},  // the bar follows the Progress event
     {"a.asp", "b.asp", "b_asp.htm", "b_asp.scr"}},
    {"RtfReplacement", {{"doc.rtf", "{\\rtf1 Hi{\\pict\\pngblip 89}}"}},
     [](FaultFileSystem& fs) { fs.FailOp("CheckRemovable", EACCES, "doc.rtf"); },
     [](auto& files, auto& reporter, auto&, auto&) { return cli::RunRtfExtract({.files = files}, reporter); },
     true, cli::kRtfNotReplaced,
     {R"("errors":["$DIR/doc.rtf: the RTF file could not be replaced, and is unchanged: Error deleting : )"
      R"($DIR/doc.rtf: Permission denied"],"warnings":[],"files":{"RTFFile":"$DIR/doc.rtf","ObjFile":"$DIR/doc.obj"}})"},
     {"100%"},  // progress from the bytes read
     {"doc.obj", "doc.rtf"}},
    {"MifReplacement",
     {{"b.mif", "<MIFFile 7.00>\n<QUONObj 1>\r\n"}, {"b.obj", "<QUONObj 1>\r\n=Inset\r\n&a\r\n=EndInset\r\n<QUONObj End>"}},
     [](FaultFileSystem& fs) { fs.FailOp("CheckRemovable", EACCES, "b.mif"); },
     [](auto& files, auto& reporter, auto&, auto&) { return cli::RunMifInsertObjects({.files = files}, reporter); },
     false, 1, {},
     {"voktools: error: $DIR/b.mif: failed (1): Error deleting : $DIR/b.mif: Permission denied\n"},
     {"b.mif", "b.obj"}},
    // A page that could not be replaced has had no repair made, whatever the
    // error list counts.
    {"ValidatePublication", {{"p.htm", kPage}}, [](FaultFileSystem& fs) { fs.FailOp("Publish", ENOSPC, "p.htm"); },
     Validate(true), true, 1, {R"("stats":{"changed":false,"repairs":2,"unlisted":0},"diff":""})"}, {},
     {"p.htm"}},
    // The first write is the copy of the page kept for --diff.
    {"ValidateWrite", {{"p.htm", kPage}}, [](FaultFileSystem& fs) { fs.FailNthWrite(2, ENOSPC); },
     Validate(false), false, 1, {},
     {"voktools: error: $DIR/p.htm: not changed: none of the 2 repair(s) listed below was made\n"
      "Validate : $DIR/p.htm\n", "No space left on device"}, {"p.htm"}},
};

class CliFailedCall : public ::testing::TestWithParam<FailureCase> {};

TEST_P(CliFailedCall, IsThatFilesFailureAndLeavesIt) {
  const FailureCase& c = GetParam();
  ScratchDir dir;
  std::vector<std::string> files;
  for (const auto& [name, bytes] : c.before) {
    WriteFile(dir / name, bytes);
    if (!name.ends_with(".obj")) files.push_back(dir / name);  // the documents
  }
  TestEnv env;
  c.fault(env.fs);
  std::ostringstream out, err;
  cli::Reporter reporter({.json = c.json}, out, err, /*err_is_terminal=*/true);
  EXPECT_EQ(c.run(files, reporter, out, err), c.status);
  for (const std::string& text : c.out) EXPECT_NE(out.str().find(InDir(text, dir)), std::string::npos) << out.str();
  for (const std::string& text : c.err) EXPECT_NE(err.str().find(InDir(text, dir)), std::string::npos) << err.str();
  EXPECT_EQ(dir.Entries(), c.entries);
  for (const auto& [name, bytes] : c.before) EXPECT_EQ(ReadFile(dir / name), bytes) << name;
}

INSTANTIATE_TEST_SUITE_P(All, CliFailedCall, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vok::test
