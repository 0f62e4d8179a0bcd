#include "mif/mif_scanner.h"

#include <gtest/gtest.h>

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

Cut ScannerCut(const std::string& in, const std::vector<std::string>& keywords) {
  test::MemoryFileSystem fs;
  fs.WriteFile("/in.mif", in);
  std::unique_ptr<ReadableFile> file;
  std::unique_ptr<ScratchFile> out;
  EXPECT_TRUE(fs.OpenForRead("/in.mif", &file).ok());
  EXPECT_TRUE(fs.CreateScratch("/", &out).ok());
  MifScanner scanner(file.get(), file->Size(), out.get(), [](int16_t&) {});
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
  return cut;
}

TEST(MifScanner, GeneratedFilesCutLikeTheModelAcrossChunks) {
  static const std::vector<std::string> pieces = {
      "<Marker ", "<MText `", "'", "`", "<", ">", " # c <x> `", "\n", "\r\n", "\t",
      "<MTypeName `Index'>", "<Pgf ", "<XRefFormat ", "<XRefDef `<$paratext>'>", "abc",
      "<PgfNumFormat `\\t'>", "<VariableFormat ", "> #", "<Marke"};
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
