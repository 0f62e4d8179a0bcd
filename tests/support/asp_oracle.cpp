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

}  // namespace vok::test
