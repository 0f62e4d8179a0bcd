#include "mif/mif_scanner.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace vok {
namespace {

class MemoryFile : public ReadableFile {
 public:
  explicit MemoryFile(std::string data) : data_(std::move(data)) {}
  Status Read(size_t n, char* buf, size_t* got) override {
    *got = std::min(n, data_.size() - pos_);
    std::memcpy(buf, data_.data() + pos_, *got);
    pos_ += *got;
    return Status::OK();
  }
  Status Seek(int64_t offset) override {
    pos_ = static_cast<size_t>(offset);
    return Status::OK();
  }
  int64_t Size() const override { return static_cast<int64_t>(data_.size()); }
  int64_t Tell() const override { return static_cast<int64_t>(pos_); }

 private:
  std::string data_;
  size_t pos_ = 0;
};

class MemoryOut : public WritableFile {
 public:
  Status Append(std::string_view d) override {
    text.append(d);
    return Status::OK();
  }
  Status Sync() override { return Status::OK(); }
  Status Close() override { return Status::OK(); }
  std::string text;
};

const std::vector<std::string> kKeywords = {"<Marker ", "<XRefFormat ", "<VariableFormat ",
                                            "<PgfNumFormat "};

struct Cut {
  std::vector<std::string> statements;
  bool last_complete = true;  // false when the input ended inside a statement
};

// The same rules applied to the whole text at once.
Cut ModelCut(const std::string& in, const std::vector<std::string>& keywords) {
  Cut cut;
  bool in_string = false;
  size_t i = 0;
  while (i < in.size()) {
    size_t p = std::string::npos;
    for (const std::string& k : keywords) p = std::min(p, in.find(k, i));
    if (p == std::string::npos) break;
    int depth = 1;
    bool open = true, comment = false;
    size_t j = p + 1;
    for (; j < in.size() && depth != 0; ++j) {
      const unsigned char c = in[j];
      if (c == '<' && !in_string && !comment)
        open = true, ++depth;
      else if (c == '>' && !in_string && !comment)
        open = false, --depth;
      else if (c == '`' && !comment)
        in_string = true;
      else if (c == '\'')
        in_string = false;
      else if (c == '#' && !open)
        comment = true;
      else if (c < 0x20)
        comment = false;
    }
    cut.statements.push_back(in.substr(p, j - p));
    cut.last_complete = depth == 0;
    i = j;
  }
  return cut;
}

Cut ScannerCut(const std::string& in, const std::vector<std::string>& keywords) {
  MemoryFile file(in);
  MemoryOut out;
  MifScanner scanner(&file, file.Size(), &out, [](int16_t&) {});
  scanner.SetKeywords(keywords);
  scanner.ClearStringState();
  Cut cut;
  while (true) {
    bool complete = scanner.NextStatement();
    if (!scanner.statement().empty()) {
      cut.statements.emplace_back(scanner.statement());
      cut.last_complete = complete;
      // Statements are written back, so that the output is the input again.
      scanner.WriteThrough(scanner.statement());
    }
    if (!complete) break;
  }
  EXPECT_TRUE(scanner.status().ok());
  EXPECT_EQ(out.text, in);
  return cut;
}

TEST(MifScanner, GeneratedFilesCutLikeTheModelAcrossChunks) {
  static const std::vector<std::string> pieces = {"<Marker ",
                                                  "<MText `",
                                                  "'",
                                                  "`",
                                                  "<",
                                                  ">",
                                                  " # c <x> `",
                                                  "\n",
                                                  "\r\n",
                                                  "\t",
                                                  "<MTypeName `Index'>",
                                                  "<Pgf ",
                                                  "<XRefFormat ",
                                                  "<XRefDef `<$paratext>'>",
                                                  "abc",
                                                  "<PgfNumFormat `\\t'>",
                                                  "<VariableFormat ",
                                                  "> #",
                                                  "<Marke"};
  std::mt19937 rng(3);
  for (int round = 0; round < 24; ++round) {
    std::string in;
    const size_t size = round < 12 ? 200 + rng() % 3000 : 70000 + rng() % 40000;
    while (in.size() < size) in += pieces[rng() % pieces.size()];
    Cut want = ModelCut(in, kKeywords);
    Cut got = ScannerCut(in, kKeywords);
    ASSERT_EQ(got.statements, want.statements) << "round " << round;
    EXPECT_EQ(got.last_complete, want.last_complete) << "round " << round;
  }
}

}  // namespace
}  // namespace vok
