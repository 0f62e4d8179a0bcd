#include "support/asp_oracle.h"

#include <vector>

namespace vok::test {
namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Whether text holds what (lower case) at i, comparing text lower-cased
// when fold is set.
bool At(std::string_view text, size_t i, std::string_view what, bool fold = false) {
  if (i > text.size() || text.size() - i < what.size()) return false;
  for (size_t k = 0; k < what.size(); ++k) {
    char c = fold ? Lower(text[i + k]) : text[i + k];
    if (c != what[k]) return false;
  }
  return true;
}

bool ContainsFolded(std::string_view text, std::string_view what) {
  for (size_t i = 0; i + what.size() <= text.size(); ++i) {
    if (At(text, i, what, true)) return true;
  }
  return false;
}

bool EndsWithFolded(std::string_view text, std::string_view what) {
  return text.size() >= what.size() && At(text, text.size() - what.size(), what, true);
}

bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }

std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (!IsLineEnd(text[i])) continue;
    if (i + 1 < text.size() && IsLineEnd(text[i + 1]) && text[i + 1] != text[i]) ++i;
    lines.push_back(text.substr(start, i + 1 - start));
    start = i + 1;
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

bool StartsTag(char c) { return c == '/' || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

constexpr std::string_view kPlaceholderStart = "<!-- ASP2HTML";
constexpr std::string_view kAttribute = "ASP2HTML=\"";
constexpr size_t npos = std::string::npos;

// "&lt;!-- ASP2HTML" (any letter case) turned into "<!-- ASP2HTML", and the
// "--&gt;" after the word that follows into "-->".
std::string RepairEscaped(std::string line) {
  for (size_t p = 0; p < line.size(); ++p) {
    if (!At(line, p, "&lt;!-- asp2html", true)) continue;
    line.replace(p, 16, kPlaceholderStart);
    size_t j = p + kPlaceholderStart.size();
    for (int spaces = 0; spaces < 2 && j < line.size();) spaces += line[j++] == ' ';
    if (At(line, j - 1, " --&gt;", true)) line.replace(j, 6, "-->");
  }
  return line;
}

// A block that the end of the script file cut off keeps its last CR LF
// unless it holds an end of its kind: then that CR LF is the separator after
// a block that was closed on the page.
bool EndsWithSeparator(std::string_view block) {
  if (!block.ends_with("\r\n")) return false;
  if (block.starts_with("<%")) return block.find("%>") != npos;
  return ContainsFolded(block, "</script>") || ContainsFolded(block, "</java>");
}

std::string Placeholder(int32_t n) { return "<!-- ASP2HTML " + std::to_string(n) + " -->"; }

}  // namespace

AspExpectation ExpectProtection(std::string_view page) {
  AspExpectation out;
  bool comment = false, server = false, script = false, tag = false, quote = false;
  bool quote_after = false;  // the open server block gets a closing quote back
  char quote_char = 0;       // 0: none remembered
  int64_t depth = 0;
  char prev = 0;
  std::string window;  // the last ten characters
  std::string page_text, block_text;

  auto start_block = [&](bool is_server) {
    ++out.blocks;
    if (is_server ? server : script) out.nested = true;
    const std::string placeholder = Placeholder(out.blocks);
    if (is_server) {
      server = true;
      quote_after = false;
      if (tag && !quote) {
        page_text += prev == '=' ? "\"" : "ASP2HTML=\"";
        page_text += placeholder + "\"";
        if (prev == '=') {
          out.restored += '"';
          quote_after = true;
        }
      } else {
        page_text += placeholder;
      }
    } else {
      script = true;
      page_text += placeholder;
    }
    out.script += placeholder + "\r\n";
  };

  for (std::string_view line : Lines(page)) {
    for (size_t i = 0; i < line.size(); ++i) {
      const char c = line[i];
      if (c == '<' && !comment) {
        if (At(line, i, "<%") && !script) {
          start_block(true);
        } else if ((At(line, i, "<script", true) || At(line, i, "<java", true)) && !server) {
          start_block(false);
        } else if (At(line, i, "<!--")) {
          comment = true;
        } else if (!server && !script && !quote && i + 1 < line.size() && StartsTag(line[i + 1])) {
          tag = true;
          ++depth;
        }
      } else if (c == '>') {
        if (!comment) {
          if (tag && !script && !server && !quote && --depth == 0) tag = false;
        } else if (i >= 2 && At(line, i - 2, "-->")) {
          comment = false;
        }
      } else if (quote_char != 0 && c == quote_char) {
        if (!comment && tag && !server && !script) {
          quote = false;
          quote_char = 0;
        }
      } else if (c == '"' || c == '\'') {
        if (!comment && tag && !server && !script && !quote) {
          quote = true;
          quote_char = c;
        }
      }

      if (c != ' ') prev = c;
      (server || script ? block_text : page_text) += c;
      out.restored += c;
      window += c;
      if (window.size() > 10) window.erase(0, 1);
      if (server && window.ends_with("%>")) {
        server = false;
        out.script += block_text + "\r\n";
        block_text.clear();
        if (quote_after) out.restored += '"';
        quote_after = false;
      }
      if (script && (EndsWithFolded(window, "</script>") || EndsWithFolded(window, "</java>"))) {
        script = false;
        out.script += block_text + "\r\n";
        block_text.clear();
        quote = server = tag = false;
      }
    }
    out.script += block_text;
    out.html += page_text;
    block_text.clear();
    page_text.clear();
  }
  if (quote_after) out.restored += '"';
  out.round_trips =
      !out.nested && !ContainsFolded(page, "asp2html") && !ContainsFolded(page, "&lt;!--");
  return out;
}

RestoreExpectation ExpectRestoration(std::string_view html, std::string_view script) {
  RestoreExpectation out;
  const std::vector<std::string_view> scr = Lines(script);
  size_t resume = 0;  // the script line after the last block
  for (std::string_view html_line : Lines(html)) {
    std::string line = RepairEscaped(std::string(html_line));
    size_t from = 0;  // placeholders before this were left as they stood
    size_t pos = line.find(kPlaceholderStart);
    while (pos != npos) {
      if (pos >= kAttribute.size() &&
          line.compare(pos - kAttribute.size(), kAttribute.size(), kAttribute) == 0) {
        pos -= kAttribute.size();
      }
      const size_t e = line.find("-->", pos);
      if (e == npos) {
        for (size_t p = pos; (p = line.find(kPlaceholderStart, p)) != npos; ++p) ++out.left;
        break;
      }
      std::string marker = line.substr(pos, e + 3 - pos);
      if (line[pos] != '<') marker += line.substr(e + 3, 1);
      const std::string removed = marker;
      line.erase(pos, marker.size());
      if (marker[0] != '<') marker = marker.substr(10, marker.size() - 11);
      size_t at = resume;
      while (at < scr.size() && !scr[at].starts_with(marker)) ++at;
      if (at == scr.size()) {
        for (at = 0; at < scr.size() && !scr[at].starts_with(marker);) ++at;
      }
      std::string block;
      resume = at;
      if (at < scr.size()) {
        while (++resume < scr.size() && !scr[resume].starts_with(kPlaceholderStart)) {
          block += scr[resume];
        }
        if (block.size() < 2) {
          line.insert(pos, removed);
          from = pos + removed.size();
          ++out.left;
          pos = line.find(kPlaceholderStart, from);
          continue;
        }
        if (resume < scr.size() || EndsWithSeparator(block)) block.erase(block.size() - 2);
        line.insert(pos, block);
      }
      const size_t next = line.find(kPlaceholderStart, from);
      if (next != npos && next < pos + block.size()) {
        out.comparable = false;
        return out;
      }
      pos = next;
    }
    out.page += line;
  }
  return out;
}

}  // namespace vok::test
