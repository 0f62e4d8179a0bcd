#include "voktools/asp2html.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/errors.h"
#include "support/fault_file_system.h"
#include "support/scratch_dir.h"

namespace vok {
namespace {

using test::ReadFile;
using test::ScratchDir;
using test::WriteFile;

std::string Line(int n) { return "<!-- ASP2HTML " + std::to_string(n) + " -->\r\n"; }

std::vector<std::string> Errors(const clsASP2HTML& c) { return c.ErrorList()->Texts(); }

TEST(Asp2Html, NamesAreDerivedFromTheOtherFile) {
  struct Case {
    bool from_page;
    std::string source, asp, htm, scr;
  };
  const std::vector<Case> cases = {
      {true, "C:\\web\\default.asp", "C:\\web\\default.asp", "C:\\web\\default_asp.htm",
       "C:\\web\\default_asp.scr"},
      {true, "C:\\web\\page", "C:\\web\\page", "C:\\web\\page_.htm", "C:\\web\\page_.scr"},
      {false, "C:\\web\\default_asp.htm", "C:\\web\\default.asp", "C:\\web\\default_asp.htm",
       "C:\\web\\default_asp.scr"},
      {false, "/srv/list_JSP.htm", "/srv/list.JSP", "/srv/list_JSP.htm", "/srv/list_JSP.scr"},
      {false, "/srv/page_html.htm", "/srv/page_.tml", "/srv/page_html.htm", "/srv/page_html.scr"},
      {false, "/srv/plain.htm", "/srv/plain.asp", "/srv/plain.htm", "/srv/plain.scr"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source);
    clsASP2HTML a;
    if (c.from_page) {
      a.ASPFile(c.source);
      EXPECT_EQ(a.ASP2HTML(), 1);  // no such file, but the names are made
    } else {
      a.HTMFile(c.source);
      EXPECT_EQ(a.HTML2ASP(), 1);
    }
    EXPECT_EQ(a.ASPFile(), c.asp);
    EXPECT_EQ(a.HTMFile(), c.htm);
    EXPECT_EQ(a.SCRFile(), c.scr);
  }
}

TEST(Asp2Html, EveryOpenFailureNamesItsFile) {
  struct Case {
    const char* name;
    bool protect;
    std::vector<std::string> present;  // of "page", "htm", "scr"
    std::string failing_folder;        // creating files there fails
    std::string named;                 // the file the message names
  };
  const std::vector<Case> cases = {
      {"page missing", true, {}, "", "page"},
      {"html not creatable", true, {"page"}, "h", "htm"},
      {"html missing", false, {"scr"}, "", "htm"},
      {"script missing", false, {"htm"}, "", "scr"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TestEnv t;
    ScratchDir dir;
    for (const char* sub : {"p", "h", "s"}) std::filesystem::create_directory(dir / sub);
    std::map<std::string, std::string> path{
        {"page", dir / "p/x.asp"}, {"htm", dir / "h/x.htm"}, {"scr", dir / "s/x.scr"}};
    for (const std::string& p : c.present) WriteFile(path[p], p == "scr" ? Line(1) : "<%a%>");
    if (!c.failing_folder.empty())
      t.fs.FailOp("CreateScratch", EACCES, "/" + c.failing_folder + "/");
    clsASP2HTML a;
    a.ASPFile(path["page"]);
    a.HTMFile(path["htm"]);
    a.SCRFile(path["scr"]);
    EXPECT_EQ(c.protect ? a.ASP2HTML() : a.HTML2ASP(), 1);
    const std::string why =
        c.failing_folder.empty() ? "No such file or directory" : "Permission denied";
    EXPECT_EQ(Errors(a), (std::vector<std::string>{
                             c.protect ? "ASP2HTML : " + path["page"] : "HTML2ASP : " + path["htm"],
                             "Unable to open file : " + path[c.named] + "\r\n" + why}));
  }
  clsASP2HTML a;
  // A host keeps the list it got once: every run refills that list.
  const auto list = a.ErrorList();
  EXPECT_EQ(a.ASP2HTML(), 1);
  EXPECT_EQ(Errors(a), std::vector<std::string>{"ASP2HTML : No input file specified"});
  EXPECT_EQ(a.HTML2ASP(), 1);
  EXPECT_EQ(list->Texts(), std::vector<std::string>{"HTML2ASP : No input file specified"});
  EXPECT_EQ(a.GetError(1), "HTML2ASP : No input file specified");
  EXPECT_EQ(a.GetError(0), "");
  EXPECT_EQ(a.GetError(2), "");
}

// Names are taken as written: '?' and '*' match nothing else, and a '\'
// separates folders only when no file has the name as written.
TEST(Asp2Html, NamesAreLiteral) {
  test::TestEnv t;
  ScratchDir dir;
  WriteFile(dir / "q?.jsp", "<b><%=q%></b>");
  WriteFile(dir / "qX_jsp.htm", "unrelated");
  std::filesystem::create_directory(dir / "back");
  WriteFile(dir / "back\\x.asp", "<i><%=b%></i>");
  clsASP2HTML a;
  a.ASPFile(dir / "q?.jsp");
  EXPECT_EQ(a.ASP2HTML(), 0) << Errors(a).back();
  EXPECT_EQ(ReadFile(dir / "q?_jsp.htm"), "<b><!-- ASP2HTML 1 --></b>");
  EXPECT_EQ(ReadFile(dir / "qX_jsp.htm"), "unrelated");
  clsASP2HTML b;
  b.ASPFile(dir / "back\\x.asp");
  EXPECT_EQ(b.ASP2HTML(), 0) << Errors(b).back();
  EXPECT_EQ(ReadFile(dir / "back/x_asp.htm"), "<i><!-- ASP2HTML 1 --></i>");
}

}  // namespace
}  // namespace vok
