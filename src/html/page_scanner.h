// The scanner of a server page: it sends page text to the HTML output and
// the text of server blocks and scripts to the script output, leaving a
// numbered placeholder in the page where each block stood.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/buffered_output.h"
#include "voktools/ascii.h"

namespace vok {

// Whether text at i begins with word, ignoring ASCII case.
inline bool StartsWithLower(std::string_view text, size_t i, std::string_view word) {
  return i <= text.size() && EqualsIgnoreCase(text.substr(i, word.size()), word);
}

// Whether the text before end ends with word, ignoring ASCII case.
inline bool EndsWithLower(std::string_view text, size_t end, std::string_view word) {
  return end >= word.size() && StartsWithLower(text, end - word.size(), word);
}

// The protection scanner: one line at a time, page text to the HTML output,
// block text to the script output.
class Protector {
 public:
  Protector(BufferedOutput& html, BufferedOutput& script) : html_(html), script_(script) {}

  // Scans text[start, limit): the bytes before start were scanned already
  // and are kept only to look back at, those from limit on only to look
  // ahead at. Everything before limit is sent out.
  void Scan(std::string_view text, size_t start, size_t limit);

  // The first n bytes of the text are gone from now on.
  void Dropped(std::string_view text, size_t n);

  // The end of the page ends its last line.
  void Finish();

 private:
  void Emit(std::string_view text);

  // The last character that is not a space before position j.
  int PrevNonSpace(std::string_view line, size_t j) const;

  void StartServerBlock(std::string_view line, size_t j);

  void StartScript();

  // The placeholder of the next block; the CR LF after it is in place too,
  // for the script file.
  std::string_view NextPlaceholder();

  // A byte that may change the state; the others are skipped here.
  void Visit(std::string_view line, size_t j);

  // A line's block text goes to the script file when the line ends (after
  // both characters of a CR LF or LF CR pair).
  void LineEnd(std::string_view text, size_t j);

  // Text from span_ to j goes where the text is going now.
  void Flush(std::string_view line, size_t j);

  void Char(std::string_view line, size_t j);

  BufferedOutput& html_;
  BufferedOutput& script_;
  std::string block_;
  bool in_comment_ = false, in_server_ = false, in_script_ = false;
  bool in_tag_ = false, in_quote_ = false;
  char quote_ = 0;  // 0: none remembered
  int16_t tag_depth_ = 0;
  int prev_ = -1;  // the last character that is not a space; -1 before any
  // "<!-- ASP2HTML " and the number of the last block, up to digits_end_.
  char placeholder_[48] = "<!-- ASP2HTML ";
  size_t digits_end_ = 14;
  size_t span_ = 0;      // where the text not yet sent out begins
  size_t pair_end_ = 0;  // the end of the line end seen last
};

}  // namespace vok
