// `voktools validate` and `voktools tags`: reports, options and usage.
#include <gtest/gtest.h>

#include <string>

#include "cli/child_process.h"
#include "cli/command_case.h"

namespace vok::test {
namespace {

const std::string kPage = "x > y\r\n<b>z\r\n";
const std::string kValidated = "x &gt; y\r\n<b>z\r\n</B>\r\n";
const std::string kReport =
    "Validate : $DIR/p.htm\n"
    " INFORMATION : Line 1, Row 3 : Changing '>' to &gt;\n"
    " INFORMATION : Line 2, Row 7 : Terminating unfinished tags\n"
    "0 error(s) encountered, 2 problem(s) fixed\n";

class CliValidate : public ::testing::TestWithParam<CommandCase> {};

TEST_P(CliValidate, ReportsAndWritesThePage) { CheckCommandCase(GetParam()); }

const CommandCase kCases[] = {
    {"RepairsInPlace", {{"p.htm", kPage}}, {"validate $DIR/p.htm"}, 0, kReport,
     {{"p.htm", kValidated}, {"p.htm.bak", std::nullopt}}},
    {"DryRunLeavesThePage", {{"p.htm", kPage}}, {"validate --dry-run --backup $DIR/p.htm"}, 0,
     kReport, {{"p.htm", kPage}, {"p.htm.bak", std::nullopt}}},
    {"BackupAndJson",
     {{"p.htm", kPage}},
     {"validate -q --backup --json $DIR/p.htm"},
     0,
     R"({"result":0,"errors":["Validate : $DIR/p.htm"," INFORMATION : Line 1, Row 3 : )"
     R"(Changing '>' to &gt;"," INFORMATION : Line 2, Row 7 : Terminating unfinished tags",)"
     R"("0 error(s) encountered, 2 problem(s) fixed"],"files":{"Filename":"$DIR/p.htm",)"
     R"("Backup":"$DIR/p.htm.bak"}})"
     "\n",
     {{"p.htm", kValidated}, {"p.htm.bak", kPage}}},
    {"OwnTagTable",
     {{"p.htm", "<b><i>x</b></i>"}},
     {"validate --tags I|0, $DIR/p.htm"},
     0,
     "Validate : $DIR/p.htm\n0 error(s) encountered, 0 problem(s) fixed\n",
     {{"p.htm", "<b><i>x</b></i>"}}},
    {"TagTableWithoutBar", {{"p.htm", kPage}}, {"validate --tags B|0,X, $DIR/p.htm"}, 64, "",
     {{"p.htm", kPage}}},
    {"MissingPageThenGoodOne",
     {{"p.htm", kPage}},
     {"validate $DIR/gone.htm $DIR/p.htm"},
     1,
     "Validate : $DIR/gone.htm\nUnable to open file : $DIR/gone.htm No such file or directory\n" +
         kReport,
     {{"p.htm", kValidated}}},
    {"DefaultTable",
     {},
     {"tags"},
     0,
     "B|0,I|0,U|0,A|0,FONT|1,STRONG|0,EM|0,PRE|0,SPAN|1,BIG|1,SMALL|1,CITE|0,DFN|0,CODE|0,"
     "SAMP|0,KBD|0,VAR|0,ABBR|0,ACRONYM|0,SCRIPT|0,STYLE|0,H1|0,H2|0,H3|0,H4|0,H5|0,H6|0,\n",
     {}},
};

INSTANTIATE_TEST_SUITE_P(All, CliValidate, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return info.param.name; });

TEST(CliValidateInvoke, ValidatesLateBoundWithProgress) {
  ScratchDir dir;
  WriteFile(dir / "p.htm", kPage);
  RunResult r = RunCli({"invoke"}, InDir(R"({"id":1,"create":"VOKTools.clsHTMLValidate"}
{"id":2,"object":1,"let":"Filename","value":"$DIR/p.htm"}
{"id":3,"object":1,"call":"HTMLValidate"}
{"id":4,"object":1,"call":"DisplayOptions"}
)",
                                         dir));
  EXPECT_EQ(r.out, InDir(R"({"id":1,"ok":true,"object":1}
{"id":2,"ok":true,"result":null}
{"event":"Progress","object":1,"args":[100]}
{"id":3,"ok":true,"result":0}
{"id":4,"ok":true,"result":null}
)",
                         dir));
  EXPECT_EQ(ReadFile(dir / "p.htm"), kValidated);
}

}  // namespace
}  // namespace vok::test
