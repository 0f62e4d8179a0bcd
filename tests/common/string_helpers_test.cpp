#include <gtest/gtest.h>

#include <array>
#include <random>
#include <string>
#include <vector>

#include "support/errors.h"
#include "voktools/automation_error.h"
#include "voktools/common.h"

namespace vok {
namespace {

using test::ErrorNumber;

// A plain transcription of the rescanning rule: after each fill, search for
// the placeholder again from the first character. Some fills rebuild their
// placeholder from the text around them ("%2%" filled with "2%%2" before a
// "%") and grow for ever: both sides stop at the 32767-character limit.
std::string RescanningFormat(std::string s, const std::vector<std::string>& args) {
  for (int i = 1; i <= 6; ++i) {
    std::string t = "%" + std::to_string(i) + "%";
    std::string r = static_cast<size_t>(i) <= args.size() ? args[i - 1] : "";
    for (size_t p = s.find(t); p != std::string::npos; p = s.find(t)) {
      s.replace(p, t.size(), r);
      if (s.size() > 32767) return "overflow";
    }
  }
  return s;
}

TEST(FormatStringDifferential, MatchesRescanningFromTheStart) {
  std::mt19937 rng(7);
  const std::string alphabet = "%%%1237a";
  auto random_text = [&](size_t max) {
    std::string s(rng() % (max + 1), ' ');
    for (char& c : s) c = alphabet[rng() % alphabet.size()];
    return s;
  };
  clsCommon c;
  for (int round = 0; round < 5000; ++round) {
    // Every other format made of whole placeholders and short gaps.
    std::string format = round % 2 ? "" : random_text(14);
    for (size_t k = round % 2 ? rng() % 7 : 0; k > 0; --k) {
      format += std::array{"%1%", "%2%", "%3%", "%7%", "a", "1", "3", ""}[rng() % 8];
    }
    std::vector<std::string> args;
    std::vector<Variant> vargs;
    for (size_t i = 0, n = rng() % 4; i < n; ++i) {
      std::string a = random_text(4);
      // Arguments holding their own placeholder never finish when rescanning.
      if (a.find("%" + std::to_string(i + 1) + "%") != std::string::npos) a = "q";
      args.push_back(a);
      vargs.emplace_back(a);
    }
    std::string got;
    try {
      got = c.FormatString(format, vargs);
    } catch (const AutomationError& e) {
      got = e.number() == 6 ? "overflow" : "error";
    }
    ASSERT_EQ(got, RescanningFormat(format, args)) << "format " << format;
  }
}

// Replacement searches on after the text it put in; positions beyond 32767
// characters overflow (error 6).
TEST(StringHelpers, SandRParseFileNameAndTheirLimits) {
  clsCommon c;
  const std::array<std::string, 4> sandr[] = {
      {"aXa", "a", "bb", "bbXbb"}, {"aaa", "a", "aa", "aaaaaa"}, {"aaaa", "aa", "b", "bb"},
      {"abc", "", "x", "abc"},     {"abc", "abc", "", ""},      {"", "a", "b", ""}};
  for (const auto& [text, search, replacement, expected] : sandr) {
    EXPECT_EQ(c.SandR(text, search, replacement), expected) << text << " " << search;
  }
  const std::array<std::string, 4> parsed[] = {
      {R"(C:\dir\file.txt)", R"(C:\dir\)", "file", "txt"}, {R"(C:\dir.old\file)", R"(C:\dir.old\)", "file", ""},
      {".profile", "", "", "profile"}, {"a.b.c", "", "a.b", "c"}, {R"(mixed/a\b.c/d.e)", R"(mixed/a\b.c/)", "d", "e"},
      {"name.", "", "name", ""}, {"dir/", "dir/", "", ""}};
  for (const auto& parts : parsed) {
    for (int part = -1; part <= 3; ++part) {
      EXPECT_EQ(c.strParseFileName(parts[0], part), part < 0 || part > 2 ? "" : parts[part + 1])
          << parts[0] << " " << part;
    }
  }
  const std::string fits(32767, 'x'), too_long(32768, 'x');
  EXPECT_EQ(ErrorNumber([&] { c.strParseFileName(fits, 1); }), 0);
  EXPECT_EQ(ErrorNumber([&] { c.strParseFileName(too_long, 1); }), 6);
  EXPECT_EQ(ErrorNumber([&] { c.SandR(too_long, "y", "z"); }), 6);
  EXPECT_EQ(ErrorNumber([&] { c.SandR(fits, "x", "xx"); }), 6);
  EXPECT_EQ(ErrorNumber([&] { c.FormatString(too_long); }), 6);
  EXPECT_EQ(ErrorNumber([&] { c.FormatString("%1%%1%", {fits}); }), 6);
}

TEST(LateBound, ArgumentsAreConverted) {
  clsCommon c;
  EXPECT_EQ(c.Call("FORMATSTRING", {"%1%+%2%=%3%", int32_t{1}, int16_t{2}, 3.0}).ToText(), "1+2=3");
  EXPECT_EQ(c.Call("strparsefilename", {"a.b", "2"}).ToText(), "b");
  EXPECT_EQ(ErrorNumber([&] { c.Call("strParseFileName", {"a.b", "one"}); }), 13);
}

}  // namespace
}  // namespace vok
