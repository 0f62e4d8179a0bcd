#include "common/text_window.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vok {

void TextWindow::Reset(ReadableFile* file, int64_t unread, int32_t chunk) {
  file_ = file;
  unread_ = unread;
  chunk_ = chunk;
  base_ = file != nullptr ? file->Tell() : 0;
  begin_ = end_ = 0;
  read_total_ = 0;
  // Room for two chunks: a refill comes when less than half a chunk is left,
  // so the kept text moved to the front is small.
  size_t want = static_cast<size_t>(chunk) * 2;
  if (capacity_ < want) {
    buf_ = std::make_unique_for_overwrite<char[]>(want);
    capacity_ = want;
  }
}

Status TextWindow::Refill() {
  if (unread_ <= 0 || 2 * static_cast<int64_t>(size()) >= chunk_) return Status::OK();
  return Append(static_cast<size_t>(std::min<int64_t>(chunk_, unread_)));
}

Status TextWindow::ReadMore(size_t n) {
  if (unread_ <= 0) return Status::OK();
  return Append(static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(n), unread_)));
}

Status TextWindow::Append(size_t n) {
  if (end_ + n > capacity_) {
    size_t keep = size();
    if (keep + n > capacity_) {
      size_t grown = std::max(capacity_ * 2, keep + n);
      auto bigger = std::make_unique_for_overwrite<char[]>(grown);
      std::memcpy(bigger.get(), buf_.get() + begin_, keep);
      buf_ = std::move(bigger);
      capacity_ = grown;
    } else {
      std::memmove(buf_.get(), buf_.get() + begin_, keep);
    }
    base_ += static_cast<int64_t>(begin_);
    begin_ = 0;
    end_ = keep;
  }
  size_t got = 0;
  Status s = file_->Read(n, buf_.get() + end_, &got);
  end_ += got;
  unread_ -= static_cast<int64_t>(got);
  read_total_ += static_cast<int64_t>(got);
  if (!s.ok()) return s;
  // The file ended before its length said it would: it changed under us.
  if (got < n) return Status::FromErrno(EIO);
  return Status::OK();
}

size_t ByteFinder::Find(const TextWindow& w) {
  const int64_t base = w.offset();
  const int64_t end = base + static_cast<int64_t>(w.size());
  if (next_ >= base) return static_cast<size_t>(next_ - base);
  const int64_t from = std::max(base, clear_to_);
  if (from < end) {
    const char* start = w.data() + (from - base);
    const void* hit = std::memchr(start, c_, static_cast<size_t>(end - from));
    if (hit != nullptr) {
      next_ = from + (static_cast<const char*>(hit) - start);
      return static_cast<size_t>(next_ - base);
    }
  }
  next_ = -1;
  clear_to_ = end;
  return std::string_view::npos;
}

size_t FindAnchored(std::string_view text, std::string_view needle, size_t anchor, size_t from) {
  const size_t n = needle.size();
  if (n == 0) return from <= text.size() ? from : std::string_view::npos;
  if (text.size() < n || from > text.size() - n) return std::string_view::npos;
  const char a = needle[anchor];
  const char* base = text.data();
  size_t i = from + anchor;  // where needle[anchor] would be
  const size_t last = text.size() - n + anchor;
  // A needle of 8 to 16 bytes is compared as its first and last 8 bytes.
  const bool words = n >= 8 && n <= 16;
  uint64_t head = 0, tail = 0;
  if (words) {
    std::memcpy(&head, needle.data(), 8);
    std::memcpy(&tail, needle.data() + n - 8, 8);
  }
  while (i <= last) {
    const void* hit = std::memchr(base + i, a, last - i + 1);
    if (hit == nullptr) return std::string_view::npos;
    i = static_cast<size_t>(static_cast<const char*>(hit) - base);
    const char* at = base + i - anchor;
    if (words) {
      uint64_t h, t;
      std::memcpy(&h, at, 8);
      std::memcpy(&t, at + n - 8, 8);
      if (h == head && t == tail) return i - anchor;
    } else if (std::memcmp(at, needle.data(), n) == 0) {
      return i - anchor;
    }
    ++i;
  }
  return std::string_view::npos;
}

size_t LineEndAfter(std::string_view text, size_t eol) {
  if (eol >= text.size()) return text.size();
  size_t end = eol + 1;
  if (end < text.size() && (text[end] == '\r' || text[end] == '\n') && text[end] != text[eol]) {
    ++end;
  }
  return end;
}

size_t LineStartBefore(std::string_view text, size_t at, size_t floor) {
  for (size_t k = at; k > floor; --k) {
    if (text[k - 1] == '\r' || text[k - 1] == '\n') return k;
  }
  return 0;
}

size_t FindAnyOf(std::string_view text, std::string_view set, size_t from) {
  const size_t n = text.size();
  const char* s = text.data();
  size_t i = from;
  char c[4];
  for (size_t k = 0; k < 4; ++k) c[k] = set[k < set.size() ? k : 0];
#if defined(__SSE2__)
  const __m128i c0 = _mm_set1_epi8(c[0]), c1 = _mm_set1_epi8(c[1]);
  const __m128i c2 = _mm_set1_epi8(c[2]), c3 = _mm_set1_epi8(c[3]);
  for (; i + 16 <= n; i += 16) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
    __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, c0), _mm_cmpeq_epi8(v, c1)),
                               _mm_or_si128(_mm_cmpeq_epi8(v, c2), _mm_cmpeq_epi8(v, c3)));
    unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hit));
    if (mask != 0) return i + static_cast<size_t>(__builtin_ctz(mask));
  }
#endif
  for (; i < n; ++i) {
    if (s[i] == c[0] || s[i] == c[1] || s[i] == c[2] || s[i] == c[3]) return i;
  }
  return std::string_view::npos;
}

}  // namespace vok
