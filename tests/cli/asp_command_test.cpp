// `voktools asp2html|html2asp`: derived names, round trips, reports, usage.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/child_process.h"

namespace vok::test {
namespace {

const std::string kPage = "<p><%= x %></p>\r\n";
const std::string kHtml = "<p><!-- ASP2HTML 1 --></p>\r\n";
const std::string kScript = "<!-- ASP2HTML 1 -->\r\n<%= x %>\r\n";

class CliAsp : public ::testing::TestWithParam<CommandCase> {};

TEST_P(CliAsp, ReportsAndWritesTheFiles) { CheckCommandCase(GetParam()); }

const std::string kProtected =
    "$DIR/page.asp: HTML in $DIR/page_asp.htm, blocks in $DIR/page_asp.scr\n"
    "ASP2HTML : $DIR/page.asp\n";
// Two blocks, and the HTML file of a restoration with its placeholders
// edited: each number in turn, one line each.
Files Edited(const std::vector<std::string>& placeholders, const std::string& second = "<%b%>\r\n") {
  std::string html;
  for (const std::string& p : placeholders) html += "<!-- ASP2HTML " + p + "\r\n";
  return {{"p_asp.htm", html},
          {"p_asp.scr", "<!-- ASP2HTML 1 -->\r\n<%a%>\r\n<!-- ASP2HTML 2 -->\r\n" + second}};
}
const std::string kWarn = "voktools: warning: $DIR/p_asp.htm: ";
const std::string kBlockTwoLost =
    kWarn + "block 2 of $DIR/p_asp.scr has no placeholder; its server code is lost from $DIR/p.asp\n";

const CommandCase kCases[] = {
    {"MissingPageThenProtectDerivesNames", {{"page.asp", kPage}}, {"asp2html $DIR/gone.asp $DIR/page.asp"}, 1,
     kProtected, {{"gone_asp.htm", std::nullopt}, {"page_asp.htm", kHtml}, {"page_asp.scr", kScript}},
     "ASP2HTML : $DIR/gone.asp\nUnable to open file : $DIR/gone.asp No such file or directory\n"},
    {"RestoreDerivesNames", {{"page_asp.htm", kHtml}, {"page_asp.scr", kScript}},
     {"html2asp $DIR/page_asp.htm"}, 0,
     "$DIR/page_asp.htm: page in $DIR/page.asp, blocks from $DIR/page_asp.scr\n"
     "HTML2ASP : $DIR/page_asp.htm\n",
     {{"page.asp", kPage}}},
    {"RoundTripWithNamedFiles", {{"page.asp", kPage}},
     {"asp2html -q --htm $DIR/t.htm --scr $DIR/t.scr $DIR/page.asp",
      "html2asp -q --json --asp $DIR/back.asp --scr $DIR/t.scr $DIR/t.htm"},
     0,
     R"({"result":0,"errors":["HTML2ASP : $DIR/t.htm"],"warnings":[],"files":{"ASPFile":"$DIR/back.asp",)"
     R"("HTMFile":"$DIR/t.htm","SCRFile":"$DIR/t.scr"}})" "\n",
     {{"back.asp", kPage}, {"page_asp.htm", std::nullopt}}},
    // Every placeholder and block that found no partner is named.
    {"Mismatches", Edited({"1 -->", "7 -->", "1 -->"}), {"html2asp --strict $DIR/p_asp.htm"}, 65,
     "$DIR/p_asp.htm: page in $DIR/p.asp, blocks from $DIR/p_asp.scr\nHTML2ASP : $DIR/p_asp.htm\n",
     {{"p.asp", "<%a%>\r\n\r\n<%a%>\r\n"}},
     kWarn + "line 2: placeholder 7 has no block in $DIR/p_asp.scr; it was removed\n" + kWarn +
         "line 3: placeholder 1 was put back before; its server code is in $DIR/p.asp more than "
         "once\n" + kBlockTwoLost},
    {"PlaceholderLeftAsItStands", Edited({"1 -->", "2 --"}), {"html2asp -q --json $DIR/p_asp.htm"}, 0,
     R"x({"result":0,"errors":["HTML2ASP : $DIR/p_asp.htm","Line 2 : placeholder without \"-->\" )x"
     R"x(left as it stands"],"warnings":["$DIR/p_asp.htm: line 2: placeholder 2 left as it stands: )x"
     R"x(no \"-->\" on its line","$DIR/p_asp.htm: block 2 of $DIR/p_asp.scr has no placeholder; )x"
     R"x(its server code is lost from $DIR/p.asp"],"files":{"ASPFile":"$DIR/p.asp","HTMFile":)x"
     R"x("$DIR/p_asp.htm","SCRFile":"$DIR/p_asp.scr"}})x" "\n",
     {{"p.asp", "<%a%>\r\n<!-- ASP2HTML 2 --\r\n"}}},
    // A block shorter than its separator cannot be put back.
    {"OneByteBlockLeftAsItStands", Edited({"1 -->", "2 -->"}, "b"), {"html2asp -q $DIR/p_asp.htm"}, 0,
     "", {{"p.asp", "<%a%>\r\n<!-- ASP2HTML 2 -->\r\n"}},
     kWarn + "line 2: placeholder 2 left as it stands: its block is shorter than its separator\n"},
    {"ScriptFileAFolder", {{"p_asp.htm", "<!-- ASP2HTML 1 -->"}, {"p_asp.scr/", ""}},
     {"html2asp $DIR/p_asp.htm"}, 1, "", {{"p.asp", std::nullopt}},
     "Unable to open file : $DIR/p_asp.scr not a regular file\n"},
};

INSTANTIATE_TEST_SUITE_P(All, CliAsp, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace vok::test
