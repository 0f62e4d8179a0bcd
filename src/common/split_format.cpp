#include "common/split_format.h"

#include <algorithm>

#include "voktools/automation_error.h"

namespace vok {

namespace {

constexpr size_t npos = std::string_view::npos;

bool IsPlaceholderDigit(char c) { return c >= '1' && c <= '6'; }

}  // namespace

void CheckPositionRange(size_t length) {
  if (length > kMaxPositionedText) throw AutomationError(err::kOverflow);
}

SplitFormat::SplitFormat(std::string_view format) : format_(format) {
  CheckPositionRange(format.size());
  size_t after = npos;  // the end of the last placeholder
  for (size_t i = 0;;) {
    const size_t mark = std::min(format.find('%', i), format.size());
    if (mark == format.size()) {
      pieces_.push_back({static_cast<uint32_t>(i), static_cast<uint32_t>(mark - i), -1});
      return;
    }
    if (mark + 2 >= format.size() || !IsPlaceholderDigit(format[mark + 1]) ||
        format[mark + 2] != '%' ||
        (after != npos && mark == after + 1 && IsPlaceholderDigit(format[after]))) {
      pieces_.clear();
      return;
    }
    pieces_.push_back({static_cast<uint32_t>(i), static_cast<uint32_t>(mark - i),
                       format[mark + 1] - '1'});
    i = after = mark + 3;
  }
}

void SplitFormat::Fill(std::span<const std::string_view> texts, std::string* out) const {
  if (texts.size() > 6) texts = texts.first(6);
  if (!FillInOnePass(texts, out)) FillEachInTurn(texts, out);
}

bool SplitFormat::FillInOnePass(std::span<const std::string_view> texts, std::string* out) const {
  if (pieces_.empty()) return false;
  for (std::string_view text : texts) {
    if (text.find('%') != npos) return false;
  }
  // The size of the filled text, and a bound on every text on the way (the
  // format's size and every fill).
  size_t size = 0;
  size_t longest = format_.size();
  for (const Piece& piece : pieces_) {
    size += piece.size;
    if (piece.arg >= 0) {
      const auto arg = static_cast<size_t>(piece.arg);
      const size_t fill = arg < texts.size() ? texts[arg].size() : 0;
      size += fill;
      longest += fill;
    }
  }
  if (longest > kMaxPositionedText) return false;
  out->resize(size);
  char* at = out->data();
  for (const Piece& piece : pieces_) {
    at = std::copy_n(format_.data() + piece.begin, piece.size, at);
    if (piece.arg >= 0 && static_cast<size_t>(piece.arg) < texts.size()) {
      const std::string_view text = texts[static_cast<size_t>(piece.arg)];
      at = std::copy(text.begin(), text.end(), at);
    }
  }
  return true;
}

void SplitFormat::FillEachInTurn(std::span<const std::string_view> texts, std::string* out) const {
  std::string& s = *out;
  s = format_;
  for (size_t i = 1; i <= 6; ++i) {
    const char t_text[] = {'%', static_cast<char>('0' + i), '%'};
    const std::string_view t(t_text, sizeof t_text);
    size_t p = s.find(t);
    if (p == npos) continue;
    const std::string_view replacement = i <= texts.size() ? texts[i - 1] : std::string_view();
    // A text holding its own placeholder would be filled for ever: then the
    // search resumes after the inserted text.
    const bool holds_itself = replacement.find(t) != npos;
    while (p != npos) {
      s.replace(p, t.size(), replacement);
      CheckPositionRange(s.size());
      // Text before p held no placeholder; a new one can start at most
      // t.size() - 1 characters before p, where the join may have formed it.
      const size_t from =
          holds_itself ? p + replacement.size() : (p >= t.size() ? p - t.size() + 1 : 0);
      p = s.find(t, from);
    }
  }
}

}  // namespace vok
