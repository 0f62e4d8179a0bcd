// Dense pages: a server page with a block every hundred bytes or so, and an
// HTML page with a tag every ten to fifteen bytes, each also on one line.
#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "bench_input.h"
#include "generator.h"

namespace vok::bench {

namespace {

constexpr std::array<std::string_view, 12> kWords = {
    "order", "customer", "qty",  "price", "item",  "total",
    "status", "name",    "date", "id",    "title", "sel"};

class DenseParts {
 public:
  DenseParts(Rng& rng, bool one_line) : rng_(rng), one_line_(one_line) {
    static constexpr std::string_view kLetters =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789       ,.;:-'()!?";
    text_ = RandomBlock(rng, kLetters, kBlock);
  }

  // A line end, or a blank on a page of one line: mostly CR LF, then LF,
  // the odd CR.
  void End(std::string& out) {
    if (one_line_) {
      out += ' ';
      return;
    }
    const uint32_t r = rng_.Below(20);
    out.append(r < 13 ? "\r\n" : r < 19 ? "\n" : "\r");
  }
  // Now and then a line end, else nothing: items run on within a line.
  void MaybeEnd(std::string& out) {
    if (rng_.Below(3) == 0) End(out);
  }

  std::string_view Text(size_t size) {
    return std::string_view(text_).substr(rng_.Below(kBlock - size), size);
  }
  std::string_view Word() { return kWords[rng_.Below(kWords.size())]; }
  uint32_t Below(uint32_t n) { return rng_.Below(n); }

  // A server block with what surrounds it, about 100 bytes on average.
  void AspItem(std::string& out) {
    switch (rng_.Below(20)) {
      case 0: case 1: case 2: case 3:
        out.append("<td class=\"c\"><%=").append(Word()).append("%></td>");
        break;
      case 4: case 5: case 6:
        out.append("<a href=\"p.asp?id=<%= rs(\"").append(Word()).append("\") %>\">");
        out.append(Text(rng_.Below(20))).append("</a>");
        break;
      case 7: case 8:
        out.append("<input name=").append(Word()).append(" value=<%=").append(Word());
        out.append("%> size=").append(std::to_string(rng_.Below(40)) + ">");
        break;
      case 9: case 10:
        out.append("<option <%=").append(Word()).append("%> value=\"").append(Word());
        out.append("\">").append(Text(rng_.Below(16))).append("</option>");
        break;
      case 11: case 12:
        out.append("<%");
        End(out);
        out.append(" If ").append(Word()).append(" > ").append(std::to_string(rng_.Below(100)));
        out.append(" Then");
        End(out);
        out.append("  Response.Write \"<b>\" & ").append(Word()).append(" & \"</b>\"");
        End(out);
        out.append(" End If");
        End(out);
        out.append("%>");
        break;
      case 13:
        out.append("<script>var s = \"<p>\" + ").append(Word()).append(" + \"</p>\";</script>");
        break;
      case 14:
        out.append("<!-- <% ").append(Word()).append(" %> -->");
        break;
      case 15:
        out.append("<% If ").append(Word()).append(" Then %>").append(Text(rng_.Below(24)));
        out.append("<% End If %>");
        break;
      default:
        out.append("<p>").append(Text(rng_.Below(40))).append("<%= ").append(Word());
        out.append(" %>").append(Text(rng_.Below(30))).append("</p>");
        break;
    }
    out.append(Text(rng_.Below(100)));
    MaybeEnd(out);
  }

  // A few tags with short texts between them: cells with FONT, bold and
  // italic (closed in the wrong order unless clean), paragraphs (nested
  // unless clean), comments over two lines, anchors, stray brackets.
  void HtmlItem(std::string& out, bool clean) {
    switch (rng_.Below(8)) {
      case 0: case 1: {
        out.append("<tr>");
        for (uint32_t i = 1 + rng_.Below(4); i > 0; --i) {
          out.append("<td><font size=\"2\">").append(Text(5 + rng_.Below(16)));
          out.append("</font></td>");
        }
        out.append("</tr>");
        break;
      }
      case 2:
        out.append("<b><i>").append(Text(5 + rng_.Below(16)));
        out.append(clean ? "</i></b>" : "</b></i>");
        break;
      case 3:
        out.append("<p>").append(Text(4 + rng_.Below(10)));
        if (clean) out.append("</p>");
        out.append("<p>").append(Text(4 + rng_.Below(10))).append("</p>");
        break;
      case 4:
        out.append("<!-- ").append(Text(rng_.Below(10)));
        End(out);
        out.append(Text(rng_.Below(10))).append(" -->");
        break;
      case 5:
        out.append("<a href=\"#").append(Word()).append("\">").append(Text(5 + rng_.Below(16)));
        out.append("</a>");
        break;
      case 6:
        out.append(clean ? " a = b " : rng_.Below(2) ? " a < b " : " b > a ");
        break;
      default:
        out.append("<br>").append(Text(5 + rng_.Below(16)));
        break;
    }
    MaybeEnd(out);
  }

 private:
  static constexpr size_t kBlock = 1 << 16;

  Rng& rng_;
  bool one_line_;
  std::string text_;
};

// Header, items until the body is full (blanks for the last one when it
// would not fit), closing.
template <typename Item>
bool Generate(const std::string& path, int64_t size, std::string_view header,
              std::string_view closing, Item item) {
  Output out(path, size);
  std::string& buffer = out.buffer();
  buffer.append(header);
  const int64_t body_end = size - static_cast<int64_t>(closing.size());
  std::string piece;
  while (out.total() < body_end && out.ok()) {
    piece.clear();
    item(piece);
    // Blanks where the last item would not fit whole.
    const auto left = static_cast<size_t>(body_end - out.total());
    if (piece.size() > left) piece.assign(left, ' ');
    buffer.append(piece);
    out.Flush();
  }
  buffer.append(closing);
  return out.Finish();
}

}  // namespace

bool GenerateDenseAsp(const std::string& path, int64_t size, bool one_line) {
  Rng rng(0x564F4B44454E5341ULL ^ static_cast<uint64_t>(size) ^ (one_line ? 1 : 0));
  DenseParts parts(rng, one_line);
  std::string header = "<%@ Language=VBScript %>\r\n<html><body><table>\r\n";
  if (one_line) std::erase(header, '\r'), std::replace(header.begin(), header.end(), '\n', ' ');
  return Generate(path, size, header, "</table></body></html>",
                  [&](std::string& out) { parts.AspItem(out); });
}

bool GenerateDenseHtml(const std::string& path, int64_t size, bool one_line, bool clean) {
  Rng rng(0x564F4B44454E5348ULL ^ static_cast<uint64_t>(size) ^ (one_line ? 1 : 0) ^
          (clean ? 2 : 0));
  DenseParts parts(rng, one_line);
  return Generate(path, size, "<html><head><title>Dense</title></head><body><table>",
                  "</table></body></html>",
                  [&](std::string& out) { parts.HtmlItem(out, clean); });
}

}  // namespace vok::bench
