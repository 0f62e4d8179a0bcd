// MifScanner with the keywords of an extraction, reading from memory. The
// passed-over text and the statements, the incomplete one at the end
// included, must give back the input byte for byte; every statement must
// begin with a keyword, and every complete one end with ">". The progress
// must only grow, up to 100.
//
// The first byte places the rest of the input against the scanner's reads:
// as it is; after spaces, so that it starts up to 255 bytes (the second
// byte) before the end of the first read; or repeated until it fills three
// reads, so that its text meets read boundaries at several places.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_files.h"

#include "mif/mif_scanner.h"

namespace {

[[noreturn]] void Fail(const char* what) { vok::fuzz::Fail("mif scanner", what); }

class MemoryFile : public vok::ReadableFile {
 public:
  explicit MemoryFile(std::string_view data) : data_(data) {}
  vok::Status Read(size_t n, char* buf, size_t* got) override {
    *got = std::min(n, data_.size() - pos_);
    std::memcpy(buf, data_.data() + pos_, *got);
    pos_ += *got;
    return vok::Status::OK();
  }
  vok::Status Seek(int64_t offset) override {
    pos_ = static_cast<size_t>(offset);
    return vok::Status::OK();
  }
  int64_t Size() const override { return static_cast<int64_t>(data_.size()); }
  int64_t Tell() const override { return static_cast<int64_t>(pos_); }

 private:
  std::string_view data_;
  size_t pos_ = 0;
};

class MemoryOut : public vok::WritableFile {
 public:
  vok::Status Append(std::string_view d) override {
    text.append(d);
    return vok::Status::OK();
  }
  vok::Status Sync() override { return vok::Status::OK(); }
  vok::Status Close() override { return vok::Status::OK(); }
  std::string text;
};

const std::vector<std::string>& Keywords() {
  static const std::vector<std::string> k{"<XRefFormats ", "<Marker ", "<VariableFormats ",
                                          "<Pgf "};
  return k;
}

std::string Place(const uint8_t* data, size_t size) {
  const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  switch (data[0] % 3) {
    case 0:
      return std::string(rest);
    case 1: {
      if (rest.empty()) return {};
      const size_t before = static_cast<uint8_t>(rest[0]);
      std::string text(vok::MifScanner::kChunk - before, ' ');
      return text.append(rest.substr(1));
    }
    default: {
      std::string text;
      if (rest.empty()) return text;
      while (text.size() < 3 * vok::MifScanner::kChunk) text.append(rest);
      return text;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string input = Place(data, size);

  MemoryFile in(input);
  MemoryOut out;
  int16_t last = 0;
  vok::MifScanner scan(&in, in.Size(), &out, [&](int16_t& percent) {
    if (percent <= last || percent > 100) Fail("the progress went back or past 100");
    last = percent;
  });
  scan.SetKeywords(Keywords());
  auto starts_with_keyword = [](std::string_view s) {
    return std::any_of(Keywords().begin(), Keywords().end(),
                       [&](const std::string& k) { return s.starts_with(k); });
  };
  while (scan.NextStatement()) {
    const std::string_view s = scan.statement();
    if (!starts_with_keyword(s)) Fail("a statement does not begin with a keyword");
    if (!s.ends_with('>')) Fail("a complete statement does not end with '>'");
    scan.WriteThrough(s);
  }
  const std::string_view incomplete = scan.statement();
  if (!incomplete.empty() && !starts_with_keyword(incomplete)) {
    Fail("the incomplete statement does not begin with a keyword");
  }
  scan.WriteThrough(incomplete);
  if (!scan.status().ok()) Fail("a read or write failed");
  if (out.text != input) Fail("the text passed over and the statements differ from the input");
  if (!input.empty() && last != 100) Fail("the progress did not reach 100");
  return 0;
}
