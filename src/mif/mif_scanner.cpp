#include "mif/mif_scanner.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>

#include "common/text_window.h"

namespace vok {

namespace {

constexpr size_t npos = std::string_view::npos;

// Bytes that matter while a statement is cut out: the brackets, the string
// quotes, "#" and the control characters that end a comment.
const std::array<bool, 256>& Special() {
  static const std::array<bool, 256> table = [] {
    std::array<bool, 256> t{};
    for (int c = 0; c < 0x20; ++c) t[c] = true;
    for (unsigned char c : std::string_view("<>`'#")) t[c] = true;
    return t;
  }();
  return table;
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

std::string MifScanner::ReadChunk() {
  const size_t n = remaining_ < static_cast<int64_t>(kChunk)
                       ? static_cast<size_t>(std::max<int64_t>(remaining_, 0))
                       : kChunk;
  remaining_ -= static_cast<int64_t>(n);
  std::string chunk(n, '\0');
  if (n > 0 && status_.ok()) {
    size_t got = 0;
    Status s = in_->Read(n, chunk.data(), &got);
    chunk.resize(got);
    if (!s.ok()) {
      status_ = s;
    } else if (got < n) {
      status_ = Status::FromErrno(EIO);
    }
  } else if (!status_.ok()) {
    chunk.clear();
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
  return chunk;
}

size_t MifScanner::FindKeyword() const {
  std::string_view w = Window();
  if (keywords_.empty()) return npos;
  if (first_chars_.size() <= 4) {
    for (size_t i = 0; (i = FindAnyOf(w, first_chars_, i)) != npos; ++i) {
      std::string_view rest = w.substr(i);
      for (const std::string& k : keywords_) {
        if (rest.starts_with(k)) return i;
      }
    }
    return npos;
  }
  size_t best = npos;
  for (const std::string& k : keywords_) best = std::min(best, w.find(k));
  return best;
}

void MifScanner::DropFront(size_t n) {
  begin_ += n;
  // The kept text moves to the front only when most of the buffer is spent.
  if (begin_ >= kChunk && begin_ * 2 >= window_.size()) {
    window_.erase(0, begin_);
    begin_ = 0;
  }
}

bool MifScanner::NextStatement() {
  statement_.clear();
  const auto& special = Special();
  while (true) {
    std::string_view w = Window();
    if (w.empty() && remaining_ <= 0) return false;
    const size_t p = FindKeyword();
    if (p == npos) {
      if (remaining_ > 0) {
        const size_t pass = w.size() > kTail ? w.size() - kTail : 0;
        WriteThrough(w.substr(0, pass));
        DropFront(pass);
        window_.append(ReadChunk());
      } else {
        WriteThrough(w);
        DropFront(w.size());
      }
      continue;
    }
    WriteThrough(w.substr(0, p));
    DropFront(p);
    depth_ = 1;
    open_bracket_ = true;
    comment_ = false;
    size_t pos = 0;  // the character last looked at, from the statement's "<"
    while (depth_ != 0) {
      ++pos;
      if (begin_ + pos >= window_.size() && remaining_ > 0) window_.append(ReadChunk());
      if (begin_ + pos >= window_.size()) break;
      const auto c = static_cast<unsigned char>(window_[begin_ + pos]);
      if (!special[c]) continue;
      switch (c) {
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
    const size_t n = std::min(pos + 1, window_.size() - begin_);
    statement_.assign(window_, begin_, n);
    DropFront(n);
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
