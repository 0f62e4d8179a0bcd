#include "common/text_window.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "support/memory_file_system.h"

namespace vok {
namespace {

TEST(TextWindow, AnchoredSearchAgreesWithPlainSearch) {
  std::mt19937 rng(11);
  const std::string alphabet = "ab{\r\n";
  for (int round = 0; round < 3000; ++round) {
    std::string text(rng() % 40, ' ');
    for (char& c : text) c = alphabet[rng() % alphabet.size()];
    std::string needle(1 + rng() % 4, ' ');
    for (char& c : needle) c = alphabet[rng() % alphabet.size()];
    size_t anchor = rng() % needle.size();
    size_t from = rng() % (text.size() + 2);
    size_t expected =
        from <= text.size() ? std::string_view(text).find(needle, from) : std::string_view::npos;
    ASSERT_EQ(FindAnchored(text, needle, anchor, from), expected)
        << "text '" << text << "' needle '" << needle << "' anchor " << anchor << " from " << from;
  }
}

// The window keeps what was not dropped across reads that move, grow and
// reallocate its buffer, and the byte finder keeps finding the next byte.
TEST(TextWindow, DroppedAndKeptTextFollowTheFileAcrossRefills) {
  std::string content;
  std::mt19937 rng(5);
  for (int i = 0; i < 20000; ++i) content += static_cast<char>(rng() % 7 == 0 ? '{' : 'a' + i % 26);
  test::MemoryFileSystem fs;
  fs.WriteFile("/f", content);
  std::unique_ptr<ReadableFile> file;
  ASSERT_TRUE(fs.OpenForRead("/f", &file).ok());
  TextWindow w;
  w.Reset(file.get(), file->Size(), 100);
  ByteFinder brace('{');
  std::string seen;
  size_t round = 0;
  while (!(w.empty() && w.at_end())) {
    ASSERT_TRUE(w.Refill().ok());
    if (++round % 5 == 0) {
      ASSERT_TRUE(w.ReadMore(700).ok());  // grows past four chunks
    }
    const int64_t at = w.offset();
    ASSERT_EQ(w.view(), std::string_view(content).substr(at, w.size()));
    size_t p = brace.Find(w);
    size_t expected = w.view().find('{');
    ASSERT_EQ(p, expected);
    size_t n = p == std::string_view::npos ? w.size() : std::min(w.size(), p + 1 + rng() % 3);
    seen += w.view().substr(0, n);
    w.Drop(n);
  }
  EXPECT_EQ(seen, content);
  EXPECT_EQ(w.read_total(), static_cast<int64_t>(content.size()));
}

}  // namespace
}  // namespace vok
