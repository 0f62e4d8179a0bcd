// Text read from a file but not yet processed, for scanners that read whole
// files in chunks. The window is a view into a buffer that advances by
// offset: dropping processed text moves a start index, and the remaining
// bytes are moved to the front only when a read would not fit behind them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "platform/file_system.h"

namespace vok {

class TextWindow {
 public:
  TextWindow() = default;

  // Starts on file at its current read position; `unread` bytes follow it.
  void Reset(ReadableFile* file, int64_t unread, int32_t chunk);

  // Appends the next chunk (or what is left) when fewer than half a chunk
  // is in the window and bytes are unread.
  Status Refill();
  // Appends up to n further bytes, whatever the window holds.
  Status ReadMore(size_t n);

  std::string_view view() const { return {buf_.get() + begin_, end_ - begin_}; }
  const char* data() const { return buf_.get() + begin_; }
  size_t size() const { return end_ - begin_; }
  bool empty() const { return end_ == begin_; }
  void Drop(size_t n) { begin_ += n; }
  void Clear() { begin_ = end_ = 0; }

  int64_t unread() const { return unread_; }
  bool at_end() const { return unread_ == 0; }
  // File offset of the window's first byte.
  int64_t offset() const { return base_ + static_cast<int64_t>(begin_); }
  // Bytes read from the file since Reset.
  int64_t read_total() const { return read_total_; }
  int32_t chunk() const { return chunk_; }

 private:
  Status Append(size_t n);

  ReadableFile* file_ = nullptr;
  std::unique_ptr<char[]> buf_;
  size_t capacity_ = 0;
  size_t begin_ = 0;
  size_t end_ = 0;
  int64_t base_ = 0;  // file offset of buf_[0]
  int64_t unread_ = 0;
  int64_t read_total_ = 0;
  int32_t chunk_ = 4096;
};

// Where the next occurrence of one byte is in a window, remembered across
// calls by file offset, so that no byte is searched twice while the window
// advances and grows.
class ByteFinder {
 public:
  explicit ByteFinder(char c) : c_(c) {}
  // Index in the window of the first c, or npos.
  size_t Find(const TextWindow& w);

 private:
  char c_;
  int64_t next_ = -1;     // file offset of the next c, -1 when none is known
  int64_t clear_to_ = 0;  // no c in [window start, clear_to_) when next_ is -1
};

// The first position at or after from where needle occurs in text, found by
// looking for needle[anchor] (choose a byte that is rare in the text).
size_t FindAnchored(std::string_view text, std::string_view needle, size_t anchor, size_t from = 0);

// Lines end at CR, LF, CR LF or LF CR. The end of the line whose first
// line-end byte is at eol (the text's size when eol is npos): after the pair,
// else after the single byte.
size_t LineEndAfter(std::string_view text, size_t eol);
// Where the line holding position `at` begins: after the last CR or LF
// before it, looking no lower than floor; 0 when there is none.
size_t LineStartBefore(std::string_view text, size_t at, size_t floor = 0);

// The first position at or after from holding one of the bytes of set (one
// to four bytes), or npos. Sixteen bytes are tested at a time.
size_t FindAnyOf(std::string_view text, std::string_view set, size_t from = 0);

}  // namespace vok
