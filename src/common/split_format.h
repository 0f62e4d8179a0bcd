// Filling the placeholders %1% to %6% of a format, as clsCommon::FormatString
// does, with a format read once and filled many times.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vok {

// The longest text the string helpers take or make (a format, and a text on
// the way while filling one).
inline constexpr size_t kMaxPositionedText = 32767;
// Error 6 (overflow) when length is beyond kMaxPositionedText.
void CheckPositionRange(size_t length);

// A format split into its literal text and its placeholders. Each
// placeholder in turn takes the place of its every occurrence, and a fill
// can make or break a placeholder with the text around it. When none can
// (every "%" of the format belongs to a placeholder, no two placeholders
// stand one digit apart and no text holds a "%"), the fill is one pass over
// the pieces; otherwise it goes placeholder by placeholder.
class SplitFormat {
 public:
  // The format's text must outlive this. Error 6 (overflow) when it is
  // longer than kMaxPositionedText.
  explicit SplitFormat(std::string_view format);

  // *out becomes the format filled with texts[0] for %1% and so on; texts
  // after the sixth are not used, missing ones are empty. Error 6 when a
  // text on the way grows beyond kMaxPositionedText.
  void Fill(std::span<const std::string_view> texts, std::string* out) const;

 private:
  // Literal text, then the placeholder of text `arg` (none when -1).
  struct Piece {
    uint32_t begin;
    uint32_t size;
    int32_t arg;
  };
  bool FillInOnePass(std::span<const std::string_view> texts, std::string* out) const;
  void FillEachInTurn(std::span<const std::string_view> texts, std::string* out) const;

  std::string_view format_;
  std::vector<Piece> pieces_;  // empty when no fill is one pass
};

}  // namespace vok
