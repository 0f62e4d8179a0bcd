#include "support/page_generator.h"

#include <array>

namespace vok::test {
namespace {

using Words = std::initializer_list<std::string_view>;

const Words kWords = {"the", "page", "order", "total", "price", "customer", "Welcome", "back",
    "and", "of", "account", "Details", "list", "more", "items", "a < b", "5 > 3", "50%", "100%>",
    "&amp;", "&nbsp;", "&lt;b&gt;", "&#169;", "\"quoted\"", "it's", "caf\xe9", "x=1", "\tindent",
    "--", "->", "?", "'single'", "%", "=", "Total:"};

const Words kTags = {"<p>", "</p>", "<br>", "<b>", "</b>", "</a>", "</td>", "<tr>", "</tr>",
    "<a href=\"page.asp?id=7&amp;x=1\">", "<img src=logo.gif width=88 height=31 alt='a > b'>",
    "<table border=0 cellpadding=\"2\" cellspacing='0'>", "<td nowrap align=right>",
    "<input type=\"text\" name=\"q\" value=\"it's\">", "<font face=\"Arial, Helvetica\" size=2>",
    "<div class=\"box\" onclick=\"go('a.asp')\">", "</div>", "<!DOCTYPE html>",
    "<?xml version=\"1.0\"?>", "<hr size=1 noshade>", "<A HREF=default.asp>",
    "<span title=\"1 > 0\">"};

const Words kComments = {"<!-- navigation -->", "<!-- <% Response.Write \"old\" %> -->",
    "<!--[if IE]><p>old browser</p><![endif]-->", "<!-- a -- b -->",
    "<!-- <script>x()</script> -->"};

const Words kCode = {"Response.Write \"Hello\"", "If Request(\"id\") <> \"\" Then", "End If",
    "For i = 1 To 10", "Next", "Dim strName, intCount",
    "Set rs = conn.Execute(\"SELECT * FROM t WHERE a > 1\")",
    "out.println(\"<b>\" + name + \"</b>\");", "String s = request.getParameter(\"q\");",
    "' 50% off, a comment", "x = a % b", "Response.Write(\"<a href='x.asp'>\")", "}",
    "if (n < 3) {"};

const Words kExpressions = {"url", " rs(\"name\") ", "Server.HTMLEncode(s)", "cb.getColor1()",
    "i + 1", " request.getContextPath() ", "\"x.asp?a=\" & b"};

const Words kDirectives = {"<%@ page contentType=\"text/html\" %>", "<%@ Language=VBScript %>",
    "<%-- a note for the page --%>", "<%@ include file=\"top.jsp\" %>"};

const Words kScriptOpen = {"<script>", "<script language=\"JavaScript\">",
    "<SCRIPT LANGUAGE=VBScript>", "<Script type='text/javascript'>"};
const Words kScriptClose = {"</script>", "</SCRIPT>", "</Script>"};
const Words kScriptLines = {"var n = 0;", "function go(u) { location.href = u; }",
    "if (a < b && b > c) { n++; }", "document.write('<b>' + x + '</b>');",
    "var s = \"<%= sessionId %>\";", "MsgBox \"Hi\"", "var t = '<a href=\"x\">';"};

const Words kJavaLines = {"int x = 1;", "System.out.println(\"a < b\");", "x += 2;"};

class Generator {
 public:
  Generator(const PageOptions& options, const std::function<void(std::string_view)>& sink)
      : options_(options), sink_(sink), state_(options.seed * 0x9E3779B97F4A7C15ull + 1) {
    gap_ = options.blocks > 0 ? static_cast<double>(options.size) / options.blocks : 0;
    next_block_ = gap_ * (Fraction() - 0.5);
    buffer_.reserve(kPiece + 4096);
  }

  int64_t Run() {
    while (total_ + static_cast<int64_t>(buffer_.size()) < options_.size) Line();
    if (options_.open_block_at_end) {
      Put("<% ' not closed");
      Eol();
      Put("Response.Write n");
      ++blocks_;
    }
    Flush();
    return blocks_;
  }

 private:
  static constexpr size_t kPiece = 1 << 20;

  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  uint32_t Below(uint32_t n) { return static_cast<uint32_t>(((Next() >> 32) * n) >> 32); }
  bool Chance(uint32_t percent) { return Below(100) < percent; }
  double Fraction() { return 0.5 + static_cast<double>(Next() >> 11) * 0x1.0p-53; }
  std::string_view Pick(Words words) { return words.begin()[Below(words.size())]; }

  void Put(std::string_view text) { buffer_.append(text); }
  void Eol() {
    static constexpr std::array<std::string_view, 8> kEnds = {"\r\n", "\r\n", "\r\n", "\n",
                                                              "\n",   "\r",   "\n\r", "\r\n"};
    Put(kEnds[Below(kEnds.size())]);
  }
  void Flush() {
    if (buffer_.empty()) return;
    sink_(buffer_);
    total_ += static_cast<int64_t>(buffer_.size());
    buffer_.clear();
  }
  int64_t Written() const { return total_ + static_cast<int64_t>(buffer_.size()); }

  void Line() {
    const uint32_t items = Below(8);
    for (uint32_t i = 0; i < items; ++i) {
      if (i > 0 && Chance(60)) Put(" ");
      if (gap_ > 0 && Written() >= next_block_) {
        Block();
        // Measured from the blocks written, some items holding two.
        next_block_ = gap_ * (static_cast<double>(blocks_) + Fraction() - 0.5);
      } else {
        Filler();
      }
    }
    Eol();
    if (buffer_.size() >= kPiece) Flush();
  }

  void Filler() {
    switch (Below(10)) {
      case 0:
      case 1:
        Put(Pick(kTags));
        break;
      case 2:
        if (Chance(80)) {
          Put(Pick(kComments));
        } else {
          Put("<!--");
          Eol();
          Put("  an old section");
          Eol();
          Put("-->");
        }
        break;
      case 3:
        Put("<input type=text");
        Eol();
        Put("  name=\"f\" value='1'>");
        break;
      default:
        for (uint32_t n = 1 + Below(6); n > 0; --n) {
          Put(Pick(kWords));
          if (n > 1) Put(" ");
        }
    }
  }

  void Server(bool multi_line) {
    if (!multi_line) {
      switch (Below(4)) {
        case 0:
          Put("<% ");
          Put(Pick(kCode));
          Put(" %>");
          return;
        case 1:
          Put(Pick(kDirectives));
          return;
        default:
          Put(Chance(50) ? "<%=" : "<%= ");
          Put(Pick(kExpressions));
          Put("%>");
          return;
      }
    }
    Put("<%");
    for (uint32_t n = 1 + Below(4); n > 0; --n) {
      Eol();
      Put("  ");
      Put(Pick(kCode));
    }
    Eol();
    Put("%>");
  }

  void Element(bool java) {
    Put(java ? (Chance(50) ? "<java>" : "<JAVA type=x>") : Pick(kScriptOpen));
    const bool comment = !java && Chance(30);
    if (comment) Put("<!--");
    for (uint32_t n = Below(4); n > 0; --n) {
      Eol();
      Put(Pick(java ? kJavaLines : kScriptLines));
    }
    if (comment) {
      Eol();
      Put("//-->");
    }
    Eol();
    Put(java ? (Chance(50) ? "</java>" : "</JAVA>") : Pick(kScriptClose));
  }

  void Block() {
    ++blocks_;
    switch (Below(14)) {
      case 0:
      case 1:
      case 2:
        Server(false);
        break;
      case 3:
        Server(true);
        break;
      case 4:  // inside quoted attribute values
        Put("<a href=\"page.asp?id=");
        Server(false);
        Put("&amp;n=2\">");
        break;
      case 5:
        Put("<input name=q value='");
        Server(false);
        Put("'>");
        break;
      case 6:  // inside a tag right after "="
        Put(Chance(50) ? "<td width=" : "<font size=2 color=  ");
        Server(false);
        Put(">");
        break;
      case 7:  // inside a tag, not after "="
        Put("<option value=1 ");
        Server(false);
        Put(">");
        break;
      case 8:
        Put("<input type=checkbox name=c <% If c Then %>checked<% End If %>>");
        ++blocks_;
        break;
      case 9:  // a line end or a tab after "=" does not count as "="
        Put(Chance(50) ? "<a href=" : "<td");
        Eol();
        Server(false);
        if (Chance(50)) {
          Put(" height=\t<%=h%>>");
          ++blocks_;
        } else {
          Put(">");
        }
        break;
      case 10:
        Put("<a href=\"x\" ");
        Server(Chance(20));
        Put(" title=t>");
        break;
      case 11:
        Put("<tr");
        Server(false);
        Put("><td>");
        break;
      case 12:
        Element(false);
        break;
      default:
        Element(true);
    }
  }

  const PageOptions& options_;
  const std::function<void(std::string_view)>& sink_;
  uint64_t state_;
  std::string buffer_;
  int64_t total_ = 0;
  int64_t blocks_ = 0;
  double gap_ = 0;
  double next_block_ = 0;
};

}  // namespace

int64_t GeneratePage(const PageOptions& options,
                     const std::function<void(std::string_view piece)>& sink) {
  return Generator(options, sink).Run();
}

std::string GeneratePage(const PageOptions& options, int64_t* blocks) {
  std::string page;
  page.reserve(static_cast<size_t>(options.size) + 256);
  int64_t count = GeneratePage(options, [&](std::string_view piece) { page.append(piece); });
  if (blocks != nullptr) *blocks = count;
  return page;
}

}  // namespace vok::test
