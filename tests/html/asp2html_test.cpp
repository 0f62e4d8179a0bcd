#include "voktools/asp2html.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "frame/with_env.h"
#include "html/memory_world.h"
#include "support/scratch_dir.h"

namespace vok {
namespace {

using test::ReadFile;
using test::WriteFile;
using Texts = std::vector<std::string>;

TEST(Asp2Html, NamesAreDerivedFromTheOtherFile) {
  const struct {
    bool from_page;
    std::string source, asp, htm, scr;
  } cases[] = {
      {true, "C:\\w\\d.asp", "C:\\w\\d.asp", "C:\\w\\d_asp.htm", "C:\\w\\d_asp.scr"},
      {true, "C:\\w\\page", "C:\\w\\page", "C:\\w\\page_.htm", "C:\\w\\page_.scr"},
      {false, "C:\\w\\d_asp.htm", "C:\\w\\d.asp", "C:\\w\\d_asp.htm", "C:\\w\\d_asp.scr"},
      {false, "/s/list_JSP.htm", "/s/list.JSP", "/s/list_JSP.htm", "/s/list_JSP.scr"},
      {false, "/s/page_html.htm", "/s/page_.tml", "/s/page_html.htm", "/s/page_html.scr"},
      {false, "/s/plain.htm", "/s/plain.asp", "/s/plain.htm", "/s/plain.scr"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source);
    clsASP2HTML a;
    c.from_page ? a.ASPFile(c.source) : a.HTMFile(c.source);
    EXPECT_EQ(c.from_page ? a.ASP2HTML() : a.HTML2ASP(), 1);  // no such file; names made
    EXPECT_EQ(Texts({a.ASPFile(), a.HTMFile(), a.SCRFile()}), Texts({c.asp, c.htm, c.scr}));
  }
}

TEST(Asp2Html, EveryOpenFailureNamesItsFile) {
  const struct {
    bool protect;
    Texts present;           // of the three files
    const char* failing;     // a folder where creating files fails
    std::string named, why;  // the file the message names, and why
  } cases[] = {
      {true, {}, "", "/p/x.asp", "No such file or directory"},
      {true, {"/p/x.asp"}, "/h/", "/h/x.htm", "Permission denied"},
      {false, {"/s/x.scr"}, "", "/h/x.htm", "No such file or directory"},
      {false, {"/h/x.htm"}, "", "/s/x.scr", "No such file or directory"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.named);
    test::MemoryWorld w;
    for (const char* folder : {"/p", "/h", "/s"}) w.fs.MakeFolder(folder);
    for (const std::string& p : c.present) w.fs.WriteFile(p, "<!-- ASP2HTML 1 -->\r\n<%a%>");
    if (*c.failing != '\0') w.fs.FailOp("CreateScratch", EACCES, c.failing);
    WithEnv<clsASP2HTML> a(w.env);
    a.ASPFile("/p/x.asp");
    a.HTMFile("/h/x.htm");
    a.SCRFile("/s/x.scr");
    EXPECT_EQ(c.protect ? a.ASP2HTML() : a.HTML2ASP(), 1);
    EXPECT_EQ(a.ErrorList()->Texts(),
              Texts({c.protect ? "ASP2HTML : /p/x.asp" : "HTML2ASP : /h/x.htm",
                     "Unable to open file : " + c.named + "\r\n" + c.why}));
  }
  // A host keeps the list it got once: every run refills that list.
  clsASP2HTML a;
  const auto list = a.ErrorList();
  EXPECT_EQ(a.ASP2HTML(), 1);
  EXPECT_EQ(a.HTML2ASP(), 1);
  EXPECT_EQ(list->Texts(), Texts{"HTML2ASP : No input file specified"});
  EXPECT_EQ(Texts({a.GetError(0), a.GetError(1), a.GetError(2)}),
            Texts({"", "HTML2ASP : No input file specified", ""}));
}

// Names are taken as written: '?' and '*' match nothing else, and a '\'
// separates folders only when no file has the name as written.
TEST(Asp2Html, NamesAreLiteral) {
  test::ScratchDir dir;
  WriteFile(dir / "q?.jsp", "<b><%=q%></b>");
  WriteFile(dir / "qX_jsp.htm", "unrelated");
  std::filesystem::create_directory(dir / "back");
  WriteFile(dir / "back\\x.asp", "<i><%=b%></i>");
  for (const char* page : {"q?.jsp", "back\\x.asp"}) {
    clsASP2HTML a;
    a.ASPFile(dir / page);
    EXPECT_EQ(a.ASP2HTML(), 0) << a.ErrorList()->Texts().back();
  }
  EXPECT_EQ(ReadFile(dir / "q?_jsp.htm"), "<b><!-- ASP2HTML 1 --></b>");
  EXPECT_EQ(ReadFile(dir / "qX_jsp.htm"), "unrelated");
  EXPECT_EQ(ReadFile(dir / "back/x_asp.htm"), "<i><!-- ASP2HTML 1 --></i>");
}

// Placeholders formed across the ends of blocks put back, each reaching
// further back into the line, past a placeholder whose "-->" comes after
// more than a piece of text: all of the line stays within reach.
TEST(Asp2Html, PlaceholdersFormedAcrossJoinsReachBackAnyDistance) {
  test::MemoryWorld w;
  std::string script;
  for (int k = 2; k < 9; ++k) {
    script += "<!-- ASP2HTML " + std::to_string(k) + " -->\r\nTML " + std::to_string(k + 1) +
              " -->\r\n";
  }
  w.fs.WriteFile("/p_asp.scr", script + "<!-- ASP2HTML 9 -->\r\n<%ok%>\r\n");
  std::string html;
  for (int k = 0; k < 8; ++k) html += "<!-- ASP2H";
  w.fs.WriteFile("/p_asp.htm", html + "<!-- ASP2HTML 1" + std::string(600, ' ') + "-->TML 2 -->\r\n");
  WithEnv<clsASP2HTML> a(w.env);
  a.HTMFile("/p_asp.htm");
  EXPECT_EQ(a.HTML2ASP(), 0);
  EXPECT_EQ(w.Read("/p.asp"), "<%ok%>\r\n");
}

}  // namespace
}  // namespace vok
