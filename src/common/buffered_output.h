// Output to a ReplacementFile gathered in memory and handed to the file in
// large pieces. A failed write throws IoFailure naming the target.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "common/io_failure.h"
#include "common/replacement_file.h"

namespace vok {

class BufferedOutput {
 public:
  explicit BufferedOutput(ReplacementFile& file) : file_(file) { buf_.reserve(kSize); }

  void Append(std::string_view s) {
    if (buf_.size() + s.size() > kSize) Flush();
    if (s.size() >= kSize) {
      Check(file_.file().Append(s), file_.target());
    } else {
      buf_.append(s);
    }
  }
  void Flush() {
    if (!buf_.empty()) Check(file_.file().Append(buf_), file_.target());
    buf_.clear();
  }
  // Writes what is buffered and flushes the file to disk.
  void Close() {
    Flush();
    Check(file_.Close(), file_.target());
  }

 private:
  static constexpr size_t kSize = 1 << 18;
  ReplacementFile& file_;
  std::string buf_;
};

}  // namespace vok
