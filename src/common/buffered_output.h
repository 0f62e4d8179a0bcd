// Output to a ReplacementFile gathered in memory and handed to the file in
// large pieces. A failed write throws IoFailure naming the target.
#pragma once

#include <cstddef>
#include <cstring>
#include <memory>
#include <string_view>

#include "common/io_failure.h"
#include "common/replacement_file.h"

namespace vok {

class BufferedOutput {
 public:
  explicit BufferedOutput(ReplacementFile& file)
      : file_(file), buf_(std::make_unique_for_overwrite<char[]>(kSize)) {}

  void Append(std::string_view s) {
    if (s.size() <= kSize - used_) {
      std::memcpy(buf_.get() + used_, s.data(), s.size());
      used_ += s.size();
      return;
    }
    Flush();
    if (s.size() >= kSize) {
      Check(file_.file().Append(s), file_.target());
    } else {
      std::memcpy(buf_.get(), s.data(), s.size());
      used_ = s.size();
    }
  }
  void Flush() {
    if (used_ != 0) Check(file_.file().Append({buf_.get(), used_}), file_.target());
    used_ = 0;
  }
  // Writes what is buffered and flushes the file to disk.
  void Close() {
    Flush();
    Check(file_.Close(), file_.target());
  }

 private:
  static constexpr size_t kSize = 1 << 18;
  ReplacementFile& file_;
  std::unique_ptr<char[]> buf_;
  size_t used_ = 0;
};

}  // namespace vok
