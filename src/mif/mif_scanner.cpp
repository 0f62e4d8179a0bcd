#include "mif/mif_scanner.h"

#include <algorithm>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "common/text_window.h"

namespace vok {

namespace {

constexpr size_t npos = std::string_view::npos;

// Bytes that matter while a statement is cut out: the brackets, the string
// quotes, "#" and the control characters that end a comment.
bool IsSpecial(unsigned char c, bool control) {
  return (control && c < 0x20) || c == '<' || c == '>' || c == '`' || c == '\'' || c == '#';
}

// The first special byte of p[from, n), or n. Control characters matter
// only inside a comment, which they end.
template <bool kControl>
size_t NextSpecial(const char* p, size_t from, size_t n) {
  size_t i = from;
#if defined(__SSE2__)
  const __m128i lt = _mm_set1_epi8('<'), gt = _mm_set1_epi8('>'), grave = _mm_set1_epi8('`');
  const __m128i apos = _mm_set1_epi8('\''), hash = _mm_set1_epi8('#');
  [[maybe_unused]] const __m128i control = _mm_set1_epi8(0x1F);
  for (; i + 16 <= n; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    __m128i hit = _mm_or_si128(_mm_cmpeq_epi8(v, lt), _mm_cmpeq_epi8(v, gt));
    if constexpr (kControl) hit = _mm_or_si128(hit, _mm_cmpeq_epi8(_mm_min_epu8(v, control), v));
    hit = _mm_or_si128(hit, _mm_or_si128(_mm_cmpeq_epi8(v, grave), _mm_cmpeq_epi8(v, apos)));
    hit = _mm_or_si128(hit, _mm_cmpeq_epi8(v, hash));
    const auto mask = static_cast<unsigned>(_mm_movemask_epi8(hit));
    if (mask != 0) return i + static_cast<size_t>(__builtin_ctz(mask));
  }
#endif
  while (i < n && !IsSpecial(static_cast<unsigned char>(p[i]), kControl)) ++i;
  return i;
}

}  // namespace

MifScanner::MifScanner(ReadableFile* in, int64_t length, WritableFile* out, ProgressFn progress)
    : length_(length), out_(out), progress_(std::move(progress)) {
  window_.Reset(in, length, static_cast<int32_t>(kChunk));
}

void MifScanner::SetKeywords(std::vector<std::string> keywords) {
  keywords_ = std::move(keywords);
  first_chars_.clear();
  for (const std::string& k : keywords_) {
    if (!k.empty() && first_chars_.find(k[0]) == npos) first_chars_ += k[0];
  }
}

void MifScanner::WriteThrough(std::string_view text) {
  if (out_ == nullptr || text.empty() || !status_.ok()) return;
  status_ = out_->Append(text);
}

void MifScanner::ReadChunk() {
  if (status_.ok()) status_ = window_.ReadMore(kChunk);
  if (int16_t percent; progress_meter_.Grew(length_ - remaining(), length_, &percent) && progress_) {
    progress_(percent);
  }
}

size_t MifScanner::FindKeyword() const {
  std::string_view w = window_.view();
  if (keywords_.empty() || w.empty()) return npos;
  if (first_chars_.size() == 1) {
    // The usual case: every keyword begins with "<".
    const char first = first_chars_[0];
    for (const char* p = w.data(); (p = static_cast<const char*>(
                                         std::memchr(p, first, w.data() + w.size() - p))) != nullptr;
         ++p) {
      const std::string_view rest(p, static_cast<size_t>(w.data() + w.size() - p));
      for (const std::string& k : keywords_) {
        if (rest.size() >= k.size() && (k.size() < 2 || rest[1] == k[1]) && rest.starts_with(k)) {
          return static_cast<size_t>(p - w.data());
        }
      }
    }
    return npos;
  }
  size_t best = npos;
  for (const std::string& k : keywords_) best = std::min(best, w.find(k));
  return best;
}

bool MifScanner::NextStatement() {
  // The last statement's text is spent now.
  window_.Drop(statement_.size());
  statement_ = {};
  while (true) {
    std::string_view w = window_.view();
    if (w.empty() && remaining() <= 0) return false;
    const size_t p = FindKeyword();
    if (p == npos) {
      if (remaining() > 0) {
        const size_t pass = w.size() > kTail ? w.size() - kTail : 0;
        WriteThrough(w.substr(0, pass));
        window_.Drop(pass);
        ReadChunk();
      } else {
        WriteThrough(w);
        window_.Drop(w.size());
      }
      continue;
    }
    WriteThrough(w.substr(0, p));
    window_.Drop(p);
    depth_ = 1;
    open_bracket_ = true;
    comment_ = false;
    // Positions in the window, which reads append to without moving its
    // start.
    size_t last = 0;  // the character last looked at
    while (depth_ != 0) {
      const char* text = window_.data();
      const size_t end = window_.size();
      const size_t next = comment_ ? NextSpecial<true>(text, last + 1, end)
                                   : NextSpecial<false>(text, last + 1, end);
      if (next >= end) {
        last = end - 1;
        if (remaining() <= 0) break;
        ReadChunk();
        continue;
      }
      last = next;
      switch (text[last]) {
        case '<':
          if (!in_string_ && !comment_) {
            open_bracket_ = true;
            ++depth_;
          }
          break;
        case '>':
          if (!in_string_ && !comment_) {
            open_bracket_ = false;
            --depth_;
          }
          break;
        case '`':
          if (!comment_) in_string_ = true;
          break;
        case '\'':
          in_string_ = false;
          break;
        case '#':
          if (!open_bracket_) comment_ = true;
          break;
        default:  // a control character
          comment_ = false;
          break;
      }
    }
    statement_ = window_.view().substr(0, last + 1);
    return depth_ == 0;
  }
}

bool CutMifString(std::string_view text, std::string_view element, size_t from, std::string* value,
                  size_t* end, bool* closed) {
  const size_t at = text.find(element, from);
  if (at == npos) return false;
  const size_t start = at + element.size();
  const size_t quote = text.find('\'', start);
  const bool found = quote != npos;
  const size_t stop = found ? quote : text.size();
  value->assign(text.substr(start, stop - start));
  if (end != nullptr) *end = stop;
  if (closed != nullptr) *closed = found;
  return true;
}

}  // namespace vok
