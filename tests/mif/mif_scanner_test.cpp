#include "mif/mif_scanner.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <random>
#include <string>
#include <vector>

#include "support/memory_file_system.h"

namespace vok {
namespace {

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
  test::MemoryFileSystem fs;
  fs.WriteFile("/in.mif", in);
  std::unique_ptr<ReadableFile> file;
  std::unique_ptr<ScratchFile> out;
  EXPECT_TRUE(fs.OpenForRead("/in.mif", &file).ok());
  EXPECT_TRUE(fs.CreateScratch("/", &out).ok());
  MifScanner scanner(file.get(), file->Size(), out.get(), [&](int16_t& p) {
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
  std::string written;
  EXPECT_TRUE(out->Publish("/out.mif").ok() && fs.ReadFile("/out.mif", &written));
  EXPECT_EQ(written, in);
  if (reads != nullptr) *reads = fs.Calls("Read");
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

TEST(MifScanner, AFailedReadOrWriteStopsTheScanWithItsError) {
  for (const char* op : {"Read", "Append"}) {
    test::MemoryFileSystem fs;
    fs.WriteFile("/in.mif", std::string(3 * MifScanner::kChunk, 'x') + "<Marker <A 1>>");
    fs.FailOp(op, ENOSPC, "", 1);
    std::unique_ptr<ReadableFile> file;
    std::unique_ptr<ScratchFile> out;
    ASSERT_TRUE(fs.OpenForRead("/in.mif", &file).ok() && fs.CreateScratch("/", &out).ok());
    MifScanner scanner(file.get(), file->Size(), out.get(), [](int16_t&) {});
    scanner.SetKeywords(kKeywords);
    int statements = 0;
    while (scanner.NextStatement()) {
      scanner.WriteThrough(scanner.statement());
      ++statements;
    }
    scanner.WriteThrough(scanner.statement());
    EXPECT_EQ(scanner.status().code(), ENOSPC) << op;
    EXPECT_LE(statements, 1) << op;
  }
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
