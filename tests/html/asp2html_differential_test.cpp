// clsASP2HTML on the fuzz target's seeds and on real server pages: the protected files
// against the scanner model, the restored page against the page, and
// restoration of edited files (placeholders moved, repeated, dropped,
// escaped or damaged; script entries moved, edited, emptied, repeated or
// removed) against the line-by-line restoration model.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <filesystem>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "frame/with_env.h"
#include "html/memory_world.h"
#include "platform/env.h"
#include "support/asp_oracle.h"
#include "support/scratch_dir.h"
#include "voktools/asp2html.h"

namespace vok {
namespace {

const std::string kMarker = "<!-- ASP2HTML ";
const std::string kAttribute = "ASP2HTML=\"";
// The placeholders of an HTML file, each with the attribute name and quotes
// protection put around it, and the text between them.
struct Split {
  std::vector<std::string> text;  // one more than tokens
  std::vector<std::string> tokens;
};

Split SplitHtml(const std::string& html) {
  Split out;
  size_t done = 0;
  for (size_t p = html.find(kMarker); p != std::string::npos; p = html.find(kMarker, done)) {
    size_t end = html.find(" -->", p) + 4;
    if (p >= kAttribute.size() && html.compare(p - kAttribute.size(), 10, kAttribute) == 0) {
      p -= kAttribute.size();
      ++end;
    }
    out.text.push_back(html.substr(done, p - done));
    out.tokens.push_back(html.substr(p, end - p));
    done = end;
  }
  out.text.push_back(html.substr(done));
  return out;
}

std::string RandomCase(std::string s, std::mt19937& rng) {
  for (char& c : s) {
    if (rng() % 2) c = static_cast<char>(std::isupper(c) ? std::tolower(c) : std::toupper(c));
  }
  return s;
}

// damage: also placeholders and blocks that cannot be restored.
std::string EditPlaceholder(std::string token, std::mt19937& rng, bool damage) {
  const size_t at = token.find(kMarker);
  const size_t close = token.find(" -->");
  const uint32_t pick = rng() % 24;
  if (pick < 2) return "";
  if (pick < 4) return token + token;
  if (pick < 7) {  // escaped by an editor, the closing maybe not
    if (rng() % 3) token.replace(close, 4, RandomCase(" --&gt;", rng));
    return token.replace(at, kMarker.size(), RandomCase("&lt;!-- ASP2HTML ", rng));
  }
  if (pick == 7) return token.insert(at + kMarker.size(), "0");  // a number no marker line has
  if (pick == 8) return token.insert(close, " ");  // other spacing: not a placeholder any more
  if (pick == 9 && damage) return token.substr(0, close) + " x";  // no "-->" of its own
  if (pick == 10 && token.ends_with("\"")) return token.substr(0, token.size() - 1);  // quote lost
  return token;
}

std::string EditHtml(const std::string& html, std::mt19937& rng, bool damage) {
  Split split = SplitHtml(html);
  std::shuffle(split.tokens.begin(), split.tokens.end(), rng);
  std::string out = split.text[0];
  for (size_t i = 0; i < split.tokens.size(); ++i) {
    out += EditPlaceholder(split.tokens[i], rng, damage) + split.text[i + 1];
  }
  if (rng() % 4 == 0) out += "\r\nASP2HTML=\"<!-- ASP2HTML 1 -->";  // quote cut by the file's end
  return out;
}

std::string EditScript(const std::string& script, std::mt19937& rng, bool damage) {
  std::vector<std::string> entries;
  for (size_t p = 0; p < script.size();) {
    size_t next = script.find("\r\n" + kMarker, p);
    next = next == std::string::npos ? script.size() : next + 2;
    entries.push_back(script.substr(p, next - p));
    p = next;
  }
  // A block left open at the end of the page has no separator: it stays last.
  const bool open_last = !entries.empty() && !entries.back().ends_with("\r\n");
  std::shuffle(entries.begin(), entries.end() - (open_last ? 1 : 0), rng);
  std::vector<std::string> out;
  for (std::string& entry : entries) {
    const size_t body = entry.find("\r\n") + 2;
    const uint32_t pick = rng() % 12;
    if (pick == 0) continue;
    if (pick < 3 && entry.size() > body + 14) {  // longer or shorter block text, the ends kept
      const size_t at = body + 2 + rng() % (entry.size() - body - 13);
      rng() % 2 ? entry.insert(at, "\r\n' edited\n") : entry.erase(at, 1);
    }
    if (pick == 3 && damage) entry.resize(body);  // no block at all
    if (pick == 4 && entry.ends_with("\r\n")) out.push_back(entry);
    out.push_back(entry);
  }
  std::string joined = rng() % 5 == 0 ? "' junk before the first marker\r\n" : "";
  for (const std::string& entry : out) joined += entry;
  return joined;
}

class Asp2HtmlDifferentialTest : public ::testing::Test {
 protected:
  void Name(clsASP2HTML& asp, const std::string& page) {
    if (chunk_ > 0) SetChunkSizeForTesting(asp, chunk_);
    asp.ASPFile(page);
    asp.HTMFile(htm_);
    asp.SCRFile(scr_);
  }

  test::AspExpectation Protect(const std::string& page) {
    world_.fs.WriteFile(asp_, page);
    clsASP2HTML asp;
    Name(asp, asp_);
    EXPECT_EQ(asp.ASP2HTML(), 0);
    test::AspExpectation expect = test::ExpectProtection(page);
    EXPECT_EQ(world_.Read(htm_), expect.html);
    EXPECT_EQ(world_.Read(scr_), expect.script);
    return expect;
  }

  // The restored page; *entries: the error list's entries after the title.
  std::string Restore(int32_t* entries) {
    clsASP2HTML asp;
    Name(asp, back_);
    EXPECT_EQ(asp.HTML2ASP(), 0);
    *entries = asp.ErrorList()->Count() - 1;
    return world_.Read(back_);
  }

  // Protects page, restores it, then restores edited versions of its files.
  void Check(const std::string& page, uint32_t seed, int rounds) {
    const test::AspExpectation expect = Protect(page);
    if (!expect.round_trips) return;
    int32_t entries = 0;
    EXPECT_EQ(Restore(&entries), expect.restored);
    EXPECT_EQ(entries, 0);
    const std::string html = world_.Read(htm_), script = world_.Read(scr_);
    std::mt19937 rng(seed);
    for (int round = 0; round < rounds; ++round) {
      const std::string edited_html = EditHtml(html, rng, round % 2 == 1),
                        edited_script = EditScript(script, rng, round % 2 == 1);
      world_.fs.WriteFile(htm_, edited_html);
      world_.fs.WriteFile(scr_, edited_script);
      const test::RestoreExpectation want = test::ExpectRestoration(edited_html, edited_script);
      if (!want.comparable) continue;
      SCOPED_TRACE("round " + std::to_string(round));
      EXPECT_EQ(Restore(&entries), want.page);
      EXPECT_EQ(entries, want.left);
    }
  }

  // The size of the pieces the converter reads (0: its own), so that every
  // construct also straddles two reads.
  int32_t chunk_ = 0;
  test::MemoryWorld world_;
  ScopedEnv scope_{world_.env};
  const std::string asp_ = "/page.asp", htm_ = "/page_asp.htm", scr_ = "/page_asp.scr",
                    back_ = "/back.asp";
};

// The fuzz target's seeds joined ten at a time, and the real pages, each
// read in pieces of another size.
TEST_F(Asp2HtmlDifferentialTest, SeedAndCorpusPages) {
  std::vector<std::string> seeds, pages;
  for (const auto& e : std::filesystem::directory_iterator(VOK_FUZZ_CORPUS_DIR "/asp_roundtrip")) {
    const std::string seed = test::ReadFile(e.path().string());
    if (test::ExpectProtection(seed).round_trips) seeds.push_back(seed);
  }
  std::sort(seeds.begin(), seeds.end());
  for (size_t i = 0; i < seeds.size(); ++i)
    (i % 6 ? pages.back() : pages.emplace_back()) += seeds[i] + "\r\n";
  const std::filesystem::path folder = std::filesystem::path(VOK_CORPUS_DIR) / "asp";
  if (std::filesystem::exists(folder)) {
    for (const auto& entry : std::filesystem::directory_iterator(folder))
      pages.push_back(test::ReadFile(entry.path().string()));
  }
  int checked = 0;
  for (size_t n = 0; n < pages.size(); ++n) {
    chunk_ = std::array{32, 97, 0, 45, 256}[n % 5];
    SCOPED_TRACE("page " + std::to_string(n));
    checked += test::ExpectProtection(pages[n]).round_trips;
    Check(pages[n], static_cast<uint32_t>(n), 6);
  }
  EXPECT_GT(checked, 10);
}

}  // namespace
}  // namespace vok
