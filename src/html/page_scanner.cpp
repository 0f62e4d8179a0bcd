#include "html/page_scanner.h"

#include <algorithm>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "common/text_window.h"
#include "html/script_file.h"
#include "voktools/automation_error.h"

namespace vok {

namespace {

constexpr std::string_view kCRLF = "\r\n";

}  // namespace

void Protector::Scan(std::string_view text, size_t start, size_t limit) {
  const char* s = text.data();
  const size_t n = text.size();
  // Only '<', '>', the quotes and the line ends can change anything; the
  // text between them goes out in one piece when its destination changes.
  size_t base = start;
#if defined(__SSE2__)
  const __m128i lt = _mm_set1_epi8('<'), gt = _mm_set1_epi8('>');
  const __m128i dq = _mm_set1_epi8('"'), sq = _mm_set1_epi8('\'');
  const __m128i cr = _mm_set1_epi8('\r'), lf = _mm_set1_epi8('\n');
  auto visit_hits = [&](__m128i v, size_t at, unsigned valid) {
    const __m128i hit =
        _mm_or_si128(_mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, lt), _mm_cmpeq_epi8(v, gt)),
                                  _mm_or_si128(_mm_cmpeq_epi8(v, dq), _mm_cmpeq_epi8(v, sq))),
                     _mm_or_si128(_mm_cmpeq_epi8(v, cr), _mm_cmpeq_epi8(v, lf)));
    for (unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hit)) & valid; mask != 0;
         mask &= mask - 1) {
      Visit(text, at + static_cast<size_t>(__builtin_ctz(mask)));
    }
  };
  for (; base + 16 <= limit; base += 16) {
    visit_hits(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + base)), base, 0xFFFF);
  }
  if (base < limit) {
    // The last piece: bytes up to limit count, and the text may end within
    // the 16 bytes loaded.
    alignas(16) char tail[16] = {};
    std::memcpy(tail, s + base, std::min<size_t>(16, n - base));
    visit_hits(_mm_load_si128(reinterpret_cast<const __m128i*>(tail)), base,
               (1u << (limit - base)) - 1);
  }
#else
  for (; base < limit; ++base) Visit(text, base);
#endif
  Flush(text, limit);
}

void Protector::Dropped(std::string_view text, size_t n) {
  for (size_t k = n; k > 0; --k) {
    if (text[k - 1] != ' ') {
      prev_ = static_cast<unsigned char>(text[k - 1]);
      break;
    }
  }
  span_ -= std::min(span_, n);
  pair_end_ = pair_end_ > n ? pair_end_ - n : 0;
}

void Protector::Finish() {
  if (!block_.empty()) script_.Append(block_);
  block_.clear();
}

void Protector::Emit(std::string_view text) {
  if (in_server_ || in_script_) {
    block_.append(text);
  } else {
    html_.Append(text);
  }
}

int Protector::PrevNonSpace(std::string_view line, size_t j) const {
  for (size_t k = j; k > 0; --k) {
    if (line[k - 1] != ' ') return static_cast<unsigned char>(line[k - 1]);
  }
  return prev_;
}

void Protector::StartServerBlock(std::string_view line, size_t j) {
  in_server_ = true;
  const std::string_view placeholder = NextPlaceholder();
  if (in_tag_ && !in_quote_) {
    html_.Append(PrevNonSpace(line, j) == '=' ? "\"" : "ASP2HTML=\"");
    html_.Append(placeholder);
    html_.Append("\"");
  } else {
    html_.Append(placeholder);
  }
  script_.Append({placeholder.data(), placeholder.size() + kCRLF.size()});
}

void Protector::StartScript() {
  in_script_ = true;
  const std::string_view placeholder = NextPlaceholder();
  html_.Append(placeholder);
  script_.Append({placeholder.data(), placeholder.size() + kCRLF.size()});
}

std::string_view Protector::NextPlaceholder() {
  // The number is counted up in place, in decimal.
  constexpr size_t first = kScriptMarker.size() + 1;  // and a space
  char* p = placeholder_ + digits_end_;
  while (p > placeholder_ + first && p[-1] == '9') *--p = '0';
  if (p == placeholder_ + first) {
    std::memmove(p + 1, p, digits_end_ - first);
    *p = '1';
    ++digits_end_;
  } else {
    ++p[-1];
  }
  std::memcpy(placeholder_ + digits_end_, " -->\r\n", 6);
  return {placeholder_, digits_end_ + 4};
}

void Protector::Visit(std::string_view line, size_t j) {
  const char c = line[j];
  if (c == '\r' || c == '\n') {
    LineEnd(line, j);
  } else if (c == '<' || c == '>') {
    Char(line, j);
  } else if ((c == '"' || c == '\'') && in_tag_ && !in_comment_ && !in_server_ && !in_script_) {
    Char(line, j);
  }
}

void Protector::LineEnd(std::string_view text, size_t j) {
  if (j < pair_end_) return;  // the second character of a pair
  const size_t end = LineEndAfter(text, j);
  pair_end_ = end;
  if (!(in_server_ || in_script_)) return;
  Flush(text, end);
  script_.Append(block_);
  block_.clear();
}

void Protector::Flush(std::string_view line, size_t j) {
  if (j <= span_) return;  // a line end's pair already sent out the text up to here
  Emit(line.substr(span_, j - span_));
  span_ = j;
}

void Protector::Char(std::string_view line, size_t j) {
  const char c = line[j];
  const size_t n = line.size();
  // Quotes only count in a tag's own markup.
  if ((c == '"' || c == '\'') && !(in_tag_ && !in_comment_ && !in_server_ && !in_script_)) {
    return;
  }
  if (c == '<') {
    if (!in_comment_) {
      if (j + 1 < n && line[j + 1] == '%' && !in_script_) {
        Flush(line, j);
        StartServerBlock(line, j);
      } else if (j + 1 < n && (AsciiLower(line[j + 1]) == 's' || AsciiLower(line[j + 1]) == 'j') &&
                 (StartsWithLower(line, j, "<script") || StartsWithLower(line, j, "<java")) &&
                 !in_server_) {
        Flush(line, j);
        StartScript();
      } else if (line.substr(j, 4) == "<!--") {
        in_comment_ = true;
      } else if (!in_server_ && !in_script_ && !in_quote_ && j + 1 < n &&
                 (line[j + 1] == '/' ||
                  (AsciiLower(line[j + 1]) >= 'a' && AsciiLower(line[j + 1]) <= 'z'))) {
        in_tag_ = true;
        in_quote_ = false;
        if (tag_depth_ == 32767) throw AutomationError(err::kOverflow);
        ++tag_depth_;
      }
    }
  } else if (c == '>') {
    if (!in_comment_) {
      if (in_tag_ && !in_script_ && !in_server_ && !in_quote_) {
        if (tag_depth_ == -32768) throw AutomationError(err::kOverflow);
        if (--tag_depth_ == 0) in_tag_ = false;
      }
    } else if (j >= 2 && line.substr(j - 2, 3) == "-->") {
      in_comment_ = false;
    }
  } else if (quote_ != 0 && c == quote_) {
    if (!in_comment_ && in_tag_ && !in_server_ && !in_script_) {
      in_quote_ = false;
      quote_ = 0;
    }
  } else if (c == '"' || c == '\'') {
    if (!in_comment_ && in_tag_ && !in_server_ && !in_script_ && !in_quote_) {
      in_quote_ = true;
      quote_ = c;
    }
  }
  if (c != '>') return;
  // The ends of blocks: "%>" and "</script>" or "</java>". A line end
  // separates lines, so these never span two.
  if (in_server_ && j >= 1 && line[j - 1] == '%') {
    Flush(line, j + 1);
    in_server_ = false;
    block_.append(kCRLF);
    script_.Append(block_);
    block_.clear();
  }
  if (in_script_ &&
      (EndsWithLower(line, j + 1, "</script>") || EndsWithLower(line, j + 1, "</java>"))) {
    Flush(line, j + 1);
    in_script_ = false;
    block_.append(kCRLF);
    script_.Append(block_);
    block_.clear();
    in_quote_ = in_server_ = in_tag_ = false;
  }
}

}  // namespace vok
