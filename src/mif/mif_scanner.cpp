#include "mif/mif_scanner.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
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
    : in_(in), length_(length), remaining_(length), out_(out), progress_(std::move(progress)) {}

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

void MifScanner::Reserve(size_t n) {
  if (end_ + n <= capacity_) return;
  const size_t used = end_ - begin_;
  if ((used + n) * 2 <= capacity_) {
    std::memmove(buffer_.get(), buffer_.get() + begin_, used);
  } else {
    const size_t capacity = std::max(2 * capacity_, used + n + kChunk);
    auto bigger = std::make_unique_for_overwrite<char[]>(capacity);
    if (used > 0) std::memcpy(bigger.get(), buffer_.get() + begin_, used);
    buffer_ = std::move(bigger);
    capacity_ = capacity;
  }
  begin_ = 0;
  end_ = used;
}

void MifScanner::ReadChunk() {
  const size_t n = remaining_ < static_cast<int64_t>(kChunk)
                       ? static_cast<size_t>(std::max<int64_t>(remaining_, 0))
                       : kChunk;
  remaining_ -= static_cast<int64_t>(n);
  if (n > 0 && status_.ok()) {
    Reserve(n);
    size_t got = 0;
    Status s = in_->Read(n, buffer_.get() + end_, &got);
    end_ += got;
    read_ += static_cast<int64_t>(got);
    if (!s.ok()) {
      status_ = s;
    } else if (got < n) {
      status_ = Status::FromErrno(EIO);
    }
  }
  if (length_ > 0) {
    const double percent = std::nearbyint(static_cast<double>(length_ - remaining_) /
                                          static_cast<double>(length_) * 100.0);
    auto value = static_cast<int16_t>(percent);
    if (value > last_progress_) {
      last_progress_ = value;
      if (progress_) progress_(value);
    }
  }
}

size_t MifScanner::FindKeyword() const {
  std::string_view w = Window();
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
  begin_ += statement_.size();
  statement_ = {};
  while (true) {
    std::string_view w = Window();
    if (w.empty() && remaining_ <= 0) return false;
    const size_t p = FindKeyword();
    if (p == npos) {
      if (remaining_ > 0) {
        const size_t pass = w.size() > kTail ? w.size() - kTail : 0;
        WriteThrough(w.substr(0, pass));
        begin_ += pass;
        ReadChunk();
      } else {
        WriteThrough(w);
        begin_ = end_;
      }
      continue;
    }
    WriteThrough(w.substr(0, p));
    begin_ += p;
    depth_ = 1;
    open_bracket_ = true;
    comment_ = false;
    size_t last = begin_;  // the character last looked at
    while (depth_ != 0) {
      const size_t next = comment_ ? NextSpecial<true>(buffer_.get(), last + 1, end_)
                                   : NextSpecial<false>(buffer_.get(), last + 1, end_);
      if (next >= end_) {
        last = end_ - 1;
        if (remaining_ <= 0) break;
        const size_t looked = last - begin_;
        ReadChunk();  // may move the window
        last = begin_ + looked;
        continue;
      }
      last = next;
      switch (buffer_[last]) {
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
    const size_t n = last + 1 - begin_;
    statement_ = std::string_view(buffer_.get() + begin_, n);
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
