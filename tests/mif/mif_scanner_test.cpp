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
    ++reads_;
    return Status::OK();
  }
  Status Seek(int64_t offset) override {
    pos_ = static_cast<size_t>(offset);
    return Status::OK();
  }
  int64_t Size() const override { return static_cast<int64_t>(data_.size()); }
  int64_t Tell() const override { return static_cast<int64_t>(pos_); }
  int reads() const { return reads_; }

 private:
  std::string data_;
  size_t pos_ = 0;
  int reads_ = 0;
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

Cut ScannerCut(const std::string& in, const std::vector<std::string>& keywords,
               std::vector<int16_t>* progress = nullptr, int* reads = nullptr) {
  MemoryFile file(in);
  MemoryOut out;
  MifScanner scanner(&file, file.Size(), &out, [&](int16_t& p) {
    if (progress != nullptr) progress->push_back(p);
  });
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
  if (reads != nullptr) *reads = file.reads();
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

TEST(MifScanner, StatementsFollowBracketStringAndCommentRules) {
  struct Case {
    const char* name;
    std::string in;
    std::vector<std::string> statements;
    bool complete;
  };
  const std::vector<Case> cases = {
      {"nested", "a<Marker <MText `x'> <MType 2>>b", {"<Marker <MText `x'> <MType 2>>"}, true},
      {"brackets in a string", "<Marker <MText `a>b<c'>>z", {"<Marker <MText `a>b<c'>>"}, true},
      {"comment after a closing bracket",
       "<Marker <A 1> # > < `\n<B 2>>",
       {"<Marker <A 1> # > < `\n<B 2>>"},
       true},
      {"hash after an opening bracket is text", "<Marker #> tail", {"<Marker #>"}, true},
      {"grave in a comment starts no string", "<Marker <A> # `\n>", {"<Marker <A> # `\n>"}, true},
      {"ends inside a statement", "x<Marker <A 1>", {"<Marker <A 1>"}, false},
      {"two in a row", "<Marker 1><Marker 2>", {"<Marker 1>", "<Marker 2>"}, true},
      {"keyword inside a string is found", "<Pgf <PgfTag `<Marker 9>'>>", {"<Marker 9>"}, true},
      {"other case is not a keyword", "<marker 1>", {}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Cut got = ScannerCut(c.in, kKeywords);
    EXPECT_EQ(got.statements, c.statements);
    if (!c.statements.empty()) {
      EXPECT_EQ(got.last_complete, c.complete);
    }
    EXPECT_EQ(ModelCut(c.in, kKeywords).statements, c.statements);
  }
}

TEST(MifScanner, KeywordStraddlingTwoChunksIsFound) {
  for (size_t at : {MifScanner::kChunk - 8, MifScanner::kChunk - 4, MifScanner::kChunk - 1,
                    MifScanner::kChunk, 2 * MifScanner::kChunk - 3}) {
    std::string in(at, 'x');
    in += "<Marker <MText `k'>>";
    in += std::string(100, 'y');
    std::vector<int16_t> progress;
    Cut got = ScannerCut(in, kKeywords, &progress);
    ASSERT_EQ(got.statements.size(), 1u) << at;
    EXPECT_EQ(got.statements[0], "<Marker <MText `k'>>");
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), 100);
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_EQ(std::adjacent_find(progress.begin(), progress.end()), progress.end());
  }
}

TEST(MifScanner, EmptyFileReadsNothing) {
  int reads = -1;
  std::vector<int16_t> progress;
  Cut got = ScannerCut("", kKeywords, &progress, &reads);
  EXPECT_TRUE(got.statements.empty());
  EXPECT_EQ(reads, 0);
  EXPECT_TRUE(progress.empty());
}

TEST(MifString, IsCutBetweenGraveAndApostrophe) {
  std::string value;
  size_t end = 0;
  bool closed = false;
  ASSERT_TRUE(CutMifString("<Marker <MText `a;b:c'> >", "<MText `", 0, &value, &end, &closed));
  EXPECT_EQ(value, "a;b:c");
  EXPECT_TRUE(closed);
  ASSERT_TRUE(CutMifString("<MText `no end", "<MText `", 0, &value, &end, &closed));
  EXPECT_EQ(value, "no end");
  EXPECT_FALSE(closed);
  EXPECT_FALSE(CutMifString("<MText `x'>", "<MText `", 1, &value));
  ASSERT_TRUE(CutMifString("<A `1'> <A `2'>", "<A `", 3, &value));
  EXPECT_EQ(value, "2");
}

}  // namespace
}  // namespace vok
