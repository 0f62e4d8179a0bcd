// Reading a MIF file as a stream of wanted statements. The text is never
// parsed into a tree: the scanner looks for statement keywords ("<Marker ")
// in the raw text, cuts each such statement out whole by counting angle
// brackets (strings between ` and ', and # comments after a closing bracket,
// do not count), and hands every byte it passes over to an optional output,
// so that statements written back and passed-over text reproduce the input.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/progress.h"
#include "common/text_window.h"
#include "platform/file_system.h"

namespace vok {

class MifScanner {
 public:
  static constexpr size_t kChunk = 32768;
  // Text kept back when no keyword was found: every keyword is shorter.
  static constexpr size_t kTail = 32;

  // Called with the percentage of the input read whenever it grows; the
  // handler may change the value, and gives the host's message loop its
  // turn (raising a ProgressEvent does both).
  using ProgressFn = std::function<void(int16_t&)>;

  // in: the input, read from its current position, `length` bytes; out:
  // where passed-over text goes (null: nowhere).
  MifScanner(ReadableFile* in, int64_t length, WritableFile* out, ProgressFn progress);

  // Keywords are found wherever their text occurs; the earliest wins.
  void SetKeywords(std::vector<std::string> keywords);
  // Forgets an open string and the depth of an unfinished statement.
  void ClearStringState() {
    in_string_ = false;
    depth_ = 0;
  }

  // Cuts out the next wanted statement. False at the end of the input, or
  // when the input ends inside the statement (statement() then holds the
  // incomplete text). Passed-over text goes to the output.
  bool NextStatement();
  // The statement cut out last, valid until the next NextStatement.
  std::string_view statement() const { return statement_; }

  // Where statement() begins, counted in bytes from the start of the input.
  int64_t statement_offset() const {
    return window_.read_total() - static_cast<int64_t>(window_.size());
  }

  // Writes text to the output, if there is one.
  void WriteThrough(std::string_view text);

  // The first read or write that failed; later ones are skipped.
  const Status& status() const { return status_; }

 private:
  // Appends the next chunk of the input to the window.
  void ReadChunk();
  size_t FindKeyword() const;
  // Bytes still to read; none once a read failed.
  int64_t remaining() const { return status_.ok() ? window_.unread() : 0; }

  int64_t length_;
  WritableFile* out_;
  ProgressFn progress_;
  // Each file read reports its own rise from above 0 to 100.
  ProgressMeter progress_meter_{0};
  std::vector<std::string> keywords_;
  std::string first_chars_;  // the distinct first characters of the keywords
  // The text read and not yet spent.
  TextWindow window_;
  std::string_view statement_;
  int32_t depth_ = 0;
  bool open_bracket_ = false;
  bool in_string_ = false;
  bool comment_ = false;
  Status status_;
};

// The string of a statement element: the text after `element` (which ends
// with the grave accent) up to, not including, the first apostrophe. False
// when the element is not in text from `from` on; a string without its
// apostrophe runs to the end of text and *closed is false.
bool CutMifString(std::string_view text, std::string_view element, size_t from, std::string* value,
                  size_t* end = nullptr, bool* closed = nullptr);

}  // namespace vok
