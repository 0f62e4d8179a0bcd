// The HTML page of the benchmarks: documents joined by glue lines, made of
// deeply nested blocks, paragraphs, link tables, long comments, scripts and
// the odd very long line, with a sprinkling of what the validator repairs.
#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "bench_input.h"
#include "generator.h"

namespace vok::bench {

namespace {

// The recognised inline tags that may not stand inside one of their kind,
// one bit each: a part opens one only where none is open, unless it means
// to make a repair.
enum : uint32_t { kB = 1, kI = 2, kU = 4, kEm = 8, kStrong = 16, kCode = 32, kAnchor = 64 };

struct Pair {
  std::string_view open;
  std::string_view close;
  uint32_t bit = 0;  // 0: may nest
};

constexpr std::array<Pair, 9> kSingle = {{
    {"<b>", "</b>", kB},
    {"<B>", "</B>", kB},
    {"<i>", "</i>", kI},
    {"<I>", "</I>", kI},
    {"<u>", "</u>", kU},
    {"<em>", "</em>", kEm},
    {"<strong>", "</strong>", kStrong},
    {"<STRONG>", "</STRONG>", kStrong},
    {"<code>", "</code>", kCode},
}};

constexpr std::array<Pair, 8> kNesting = {{
    {"<font face=\"Verdana, Arial, Helvetica\" size=\"2\">", "</font>"},
    {"<FONT COLOR=\"#003366\">", "</FONT>"},
    {"<font size=-1>", "</font>"},
    {"<span class=\"note\">", "</span>"},
    {"<span style=\"color: #c00; font-weight: bold\">", "</span>"},
    {"<SPAN CLASS=hi>", "</SPAN>"},
    {"<big>", "</big>"},
    {"<small>", "</small>"},
}};

constexpr std::array<Pair, 5> kContainers = {{
    {"<div class=\"section\">", "</div>"},
    {"<table width=\"100%\" border=\"0\" cellspacing=\"0\" cellpadding=\"4\"><tr><td "
     "valign=\"top\">",
     "</td></tr></table>"},
    {"<TABLE BORDER=1><TR><TD ALIGN=left>", "</TD></TR></TABLE>"},
    {"<blockquote>", "</blockquote>"},
    {"<ul><li>", "</li></ul>"},
}};

// Links and images whose quoted values hold ">", some quoted inside others.
constexpr std::array<std::string_view, 5> kLinks = {
    "<a href=\"chapter3.htm#s2\" title=\"Next > Chapter 3\">",
    "<a href=\"faq.htm\" onmouseover=\"if (n > 0) status='Questions > Answers'\" "
    "onmouseout=\"status=''\">",
    "<A HREF='index.htm' TARGET=_top>",
    "<a href=\"javascript:go('a>b')\" class=\"nav\">",
    "<a name=\"top\" href=\"#top\">",
};
constexpr std::array<std::string_view, 3> kImages = {
    "<img src=\"arrow.gif\" alt=\"-->\" width=\"12\" height=\"9\">",
    "<IMG SRC=\"images/logo.gif\" ALT='Home > Products' BORDER=0>",
    "<input type=\"text\" name=\"q\" value='x > y' size=\"20\">",
};

// Text the validator changes: a stray bracket; two tags closed in the wrong
// order; a tag that runs into the next one.
constexpr std::array<std::string_view, 6> kStrays = {
    " if a < b then ", " x > y ", " 3<4 and ", " for i <= n ", " left -> right ", " a => b ",
};

class HtmlParts {
 public:
  explicit HtmlParts(Rng& rng) : rng_(rng) {
    static constexpr std::string_view kLetters =
        "abcdefghijklmnopqrstuvwxyzabcdefghijklmnopqrstuvwxyzABCDEFGHIJ         ,.;:-()0123456789";
    text_ = RandomBlock(rng, kLetters, kBlock);
    base64_ = RandomBlock(rng, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/",
                          kBlock);
  }

  static constexpr std::string_view kHeader =
      "<html>\r\n<head>\r\n<title>Product guide</title>\r\n"
      "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=iso-8859-1\">\r\n"
      "<style type=\"text/css\">\r\n<!--\r\nbody { font-family: Verdana, Arial; }\r\n"
      "td > p { margin: 0 }\r\n-->\r\n</style>\r\n</head>\r\n<body bgcolor=\"#FFFFFF\">\r\n";
  static constexpr std::string_view kClosing = "</body>\r\n</html>\r\n";

  void DocumentStart(std::string& out) {
    out.append("<h1>").append(Text(10 + rng_.Below(50))).append("</h1>");
    End(out);
  }

  // Ends a document with a glue line; one in four leaves a comment open
  // before it, one in four recognised tags.
  void DocumentEnd(std::string& out) {
    switch (rng_.Below(4)) {
      case 0:
        out.append("<!-- draft: ").append(Text(rng_.Below(60)));
        End(out);
        for (uint32_t lines = rng_.Below(6); lines > 0; --lines) {
          out.append(Text(rng_.Below(80)));
          End(out);
        }
        break;
      case 1:
        out.append(kNesting[rng_.Below(kNesting.size())].open).append("<b>");
        out.append(Text(rng_.Below(80)));
        End(out);
        break;
      default:
        break;
    }
    out.append("<!--HTMLGlue-->");
    End(out);
  }

  // One block of a document, ending with a line end.
  void Block(std::string& out) {
    const uint32_t r = rng_.Below(100);
    if (r < 45) {
      Nested(out, 0, 8 + rng_.Below(41), 0);
    } else if (r < 75) {
      for (uint32_t n = 1 + rng_.Below(8); n > 0; --n) Paragraph(out, 40 + rng_.Below(600));
    } else if (r < 85) {
      LinkTable(out);
    } else if (r < 92) {
      Comment(out, (4 << 10) + rng_.Below(60 << 10));
    } else if (r < 97) {
      Script(out);
    } else if (r < 99) {
      Pre(out);
    } else {
      LongLine(out, (100 << 10) + rng_.Below(300 << 10));
    }
  }

  // size bytes of plain text in lines.
  void Filler(std::string& out, size_t size) {
    while (size > 0) {
      const size_t line = std::min<size_t>(size, 100);
      if (line > 2) {
        out.append(Text(line - 2)).append("\r\n");
      } else {
        out.append(line, ' ');
      }
      size -= line;
    }
  }

 private:
  static constexpr size_t kBlock = 1 << 16;

  std::string_view Text(size_t size) {
    return std::string_view(text_).substr(rng_.Below(kBlock - size), size);
  }

  // Mostly CR LF, then LF, the odd CR and LF CR.
  void End(std::string& out) {
    const uint32_t r = rng_.Below(20);
    out.append(r < 12 ? "\r\n" : r < 18 ? "\n" : r < 19 ? "\r" : "\n\r");
  }

  // A tag of kSingle that none open stops, or null.
  const Pair* FreeSingle(uint32_t open) {
    const Pair& p = kSingle[rng_.Below(kSingle.size())];
    return (open & p.bit) == 0 ? &p : nullptr;
  }

  // About size bytes of text and inline markup on one line, inside the
  // tags of the mask open.
  void Inline(std::string& out, size_t size, uint32_t open) {
    const size_t end = out.size() + size;
    while (out.size() < end) {
      const uint32_t r = rng_.Below(256);
      if (r < 120) {
        out.append(Text(5 + rng_.Below(80)));
      } else if (r < 150) {
        if (const Pair* p = FreeSingle(open)) {
          out.append(p->open).append(Text(3 + rng_.Below(30))).append(p->close);
        }
      } else if (r < 175) {
        const Pair& f = kNesting[rng_.Below(kNesting.size())];
        out.append(f.open).append(Text(3 + rng_.Below(40)));
        if (const Pair* p = FreeSingle(open)) {
          out.append(p->open).append(Text(3 + rng_.Below(20))).append(p->close);
        }
        out.append(f.close);
      } else if (r < 190) {
        if ((open & kAnchor) == 0) {
          out.append(kLinks[rng_.Below(kLinks.size())]).append(Text(3 + rng_.Below(30)));
          out.append("</a>");
        }
      } else if (r < 196) {
        out.append(kImages[rng_.Below(kImages.size())]);
      } else if (r < 206) {
        out.append("<br>");
      } else if (r < 216) {
        out.append("&nbsp;");
      } else if (r < 218) {
        out.append(kStrays[rng_.Below(kStrays.size())]);
      } else if (r < 219) {
        Overlap(out, open);
      } else if (r == 219 && rng_.Below(4) == 0) {
        // "<" inside a tag: the first tag ends before it.
        out.append("<span class=\"x\" <small>").append(Text(3 + rng_.Below(20)));
        out.append("</small></span>");
      } else {
        out.append(Text(1 + rng_.Below(40)));
      }
    }
  }

  // Two tags closed in the wrong order.
  void Overlap(std::string& out, uint32_t open) {
    const Pair* inner = FreeSingle(open);
    const Pair* outer =
        rng_.Below(2) == 0 ? &kNesting[rng_.Below(kNesting.size())] : FreeSingle(open);
    if (inner == nullptr || outer == nullptr || inner->bit == outer->bit) return;
    out.append(outer->open).append(Text(1 + rng_.Below(20))).append(inner->open);
    out.append(Text(1 + rng_.Below(20))).append(outer->close).append(Text(rng_.Below(8)));
    out.append(inner->close);
  }

  void Indent(std::string& out, uint32_t depth) { out.append(std::min<uint32_t>(depth, 40), ' '); }

  // A container at depth, with a nesting inline tag (and sometimes a single
  // one) open around text, blocks of the next depth down to last, and more
  // text. The first levels hold up to three blocks each, the others one.
  void Nested(std::string& out, uint32_t depth, uint32_t last, uint32_t open) {
    const Pair& c = kContainers[rng_.Below(kContainers.size())];
    const Pair& f = kNesting[rng_.Below(kNesting.size())];
    const Pair* s = rng_.Below(3) == 0 ? FreeSingle(open) : nullptr;
    const uint32_t inside = open | (s != nullptr ? s->bit : 0);
    Indent(out, depth);
    out.append(c.open);
    End(out);
    Indent(out, depth);
    out.append(f.open);
    if (s != nullptr) out.append(s->open);
    Inline(out, 20 + rng_.Below(200), inside);
    End(out);
    if (depth < last) {
      for (uint32_t n = depth < 3 ? 1 + rng_.Below(3) : 1; n > 0; --n) {
        Nested(out, depth + 1, last, inside);
      }
    }
    Indent(out, depth);
    Inline(out, rng_.Below(120), inside);
    if (s != nullptr) out.append(s->close);
    out.append(f.close);
    End(out);
    Indent(out, depth);
    out.append(c.close);
    End(out);
  }

  void Paragraph(std::string& out, size_t size) {
    out.append(rng_.Below(4) == 0 ? "<P ALIGN=justify>" : "<p>");
    Inline(out, size, 0);
    // One paragraph in three is left for the next "<p>" to end.
    if (rng_.Below(3) != 0) out.append("</p>");
    End(out);
  }

  void LinkTable(std::string& out) {
    out.append("<table class=\"links\">");
    End(out);
    for (uint32_t rows = 2 + rng_.Below(30); rows > 0; --rows) {
      out.append("<tr><td>").append(kLinks[rng_.Below(kLinks.size())]);
      out.append(Text(5 + rng_.Below(40))).append("</a></td><td align=\"right\">");
      out.append(kImages[rng_.Below(kImages.size())]).append("</td></tr>");
      End(out);
    }
    out.append("</table>");
    End(out);
  }

  // A comment of about size bytes over many lines: markup taken out and
  // notes.
  void Comment(std::string& out, size_t size) {
    const size_t end = out.size() + size;
    out.append("<!-- ").append(Text(rng_.Below(60)));
    End(out);
    while (out.size() < end) {
      if (rng_.Below(2) == 0) {
        out.append("<tr><td class=\"old\">").append(Text(rng_.Below(60)));
        out.append("</td><td align=\"right\"><b>").append(Text(1 + rng_.Below(9)));
        out.append("</b></td></tr>");
      } else {
        out.append(Text(rng_.Below(100)));
      }
      End(out);
    }
    out.append("-->");
    End(out);
  }

  // A script element whose statements stand in a comment.
  void Script(std::string& out) {
    out.append("<script language=\"JavaScript\" type=\"text/javascript\">");
    End(out);
    out.append("<!--");
    End(out);
    for (uint32_t lines = 2 + rng_.Below(30); lines > 0; --lines) {
      out.append("  if (document.images && n > ").append(std::to_string(rng_.Below(100)));
      out.append(") { for (i = 0; i < n; i++) img[i].src = \"b").append(Text(1 + rng_.Below(8)));
      out.append(".gif\"; } // ").append(Text(rng_.Below(50)));
      End(out);
    }
    out.append("// -->");
    End(out);
    out.append("</script>");
    End(out);
  }

  void Pre(std::string& out) {
    out.append("<pre>");
    for (uint32_t lines = 2 + rng_.Below(20); lines > 0; --lines) {
      out.append("    ").append(Text(rng_.Below(60)));
      out.append(rng_.Below(8) == 0 ? " if (x > 0) " : " if (x &lt; 0) ");
      End(out);
    }
    out.append("</pre>");
    End(out);
  }

  // One line of about size bytes: a paragraph, or (one in four) a picture
  // whose data stands in the tag.
  void LongLine(std::string& out, size_t size) {
    if (rng_.Below(4) == 0) {
      out.append("<img alt=\"chart > 2009\" src=\"data:image/png;base64,");
      for (size_t left = size; left > 0;) {
        const size_t piece = std::min(left, kBlock / 2);
        out.append(base64_, rng_.Below(kBlock - piece), piece);
        left -= piece;
      }
      out.append("\">");
    } else {
      out.append("<p>");
      Inline(out, size, 0);
      out.append("</p>");
    }
    End(out);
  }

  Rng& rng_;
  std::string text_;
  std::string base64_;
};

}  // namespace

bool GenerateHtml(const std::string& path, int64_t size) {
  Rng rng(0x564F4B48544D4C56ULL ^ static_cast<uint64_t>(size));
  HtmlParts parts(rng);
  Output out(path, size);
  std::string& buffer = out.buffer();
  buffer.append(HtmlParts::kHeader);
  const int64_t body_end = size - static_cast<int64_t>(HtmlParts::kClosing.size());
  // Documents of 256 KB to 1 MB; a block that would run past body_end ends
  // the markup, and plain text fills up to it.
  auto document_size = [&rng] { return (256 << 10) + rng.Below(768 << 10); };
  int64_t glue_at = out.total() + document_size();
  std::string block;
  parts.DocumentStart(block);
  while (out.ok()) {
    if (out.total() >= glue_at) {
      parts.DocumentEnd(block);
      parts.DocumentStart(block);
      glue_at = out.total() + document_size();
    }
    parts.Block(block);
    if (out.total() + static_cast<int64_t>(block.size()) > body_end) break;
    buffer.append(block);
    block.clear();
    out.Flush();
  }
  if (out.total() < body_end) parts.Filler(buffer, static_cast<size_t>(body_end - out.total()));
  buffer.append(HtmlParts::kClosing);
  return out.Finish();
}

}  // namespace vok::bench
