#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "support/errors.h"
#include "voktools/automation_error.h"
#include "voktools/common.h"
#include "voktools/messages.h"

namespace vok {
namespace {

using test::ErrorNumber;

struct FormatCase {
  const char* name;
  std::string format;
  std::vector<Variant> args;
  std::string expected;
};

class FormatString : public ::testing::TestWithParam<FormatCase> {};

TEST_P(FormatString, FillsPlaceholders) {
  clsCommon c;
  EXPECT_EQ(c.FormatString(GetParam().format, GetParam().args), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FormatString,
    ::testing::Values(
        FormatCase{"summary",
                   std::string(Message(MessageId::kValidationSummary)),
                   {int32_t{3}, int32_t{5}},
                   "3 error(s) encountered, 5 problem(s) fixed"},
        FormatCase{"report_line",
                   std::string(Message(MessageId::kInformationAtPosition)),
                   {int32_t{12}, int32_t{4}, "x"},
                   " INFORMATION : Line 12, Row 4 : x"},
        FormatCase{"seventh_and_stray_percent_stay", "%7% 50% %x% %1", {"a"}, "%7% 50% %x% %1"},
        FormatCase{"argument_holding_itself_terminates", "%2%-%2%", {"a", "x%2%"}, "x%2%-x%2%"},
        FormatCase{"runtime_texts", "%1% %2% %3%", {true, 2.5, Variant()}, "True 2.5 "}),
    [](const auto& info) { return std::string(info.param.name); });

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
  const std::string alphabet = "%%%123a";
  auto random_text = [&](size_t max) {
    std::string s(rng() % (max + 1), ' ');
    for (char& c : s) c = alphabet[rng() % alphabet.size()];
    return s;
  };
  clsCommon c;
  for (int round = 0; round < 5000; ++round) {
    std::string format = random_text(14);
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

struct SandRCase {
  std::string text, search, replacement, expected;
};

class SandR : public ::testing::TestWithParam<SandRCase> {};

TEST_P(SandR, ReplacesAndSearchesOnAfterTheReplacement) {
  clsCommon c;
  EXPECT_EQ(c.SandR(GetParam().text, GetParam().search, GetParam().replacement),
            GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SandR,
    ::testing::Values(SandRCase{"aXa", "a", "bb", "bbXbb"}, SandRCase{"aaa", "a", "aa", "aaaaaa"},
                      SandRCase{"aaaa", "aa", "b", "bb"}, SandRCase{"abc", "", "x", "abc"},
                      SandRCase{"abc", "abc", "", ""}, SandRCase{"abc", "d", "x", "abc"},
                      SandRCase{"", "a", "b", ""}));

struct ParseCase {
  std::string path, folder, name, extension;
};

class ParseFileName : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseFileName, SplitsFolderNameAndExtension) {
  clsCommon c;
  const ParseCase& p = GetParam();
  EXPECT_EQ(c.strParseFileName(p.path, 0), p.folder);
  EXPECT_EQ(c.strParseFileName(p.path, 1), p.name);
  EXPECT_EQ(c.strParseFileName(p.path, 2), p.extension);
  EXPECT_EQ(c.strParseFileName(p.path, 3), "");
  EXPECT_EQ(c.strParseFileName(p.path, -1), "");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ParseFileName,
    ::testing::Values(ParseCase{R"(C:\dir\file.txt)", R"(C:\dir\)", "file", "txt"},
                      ParseCase{R"(C:\dir.old\file)", R"(C:\dir.old\)", "file", ""},
                      ParseCase{".profile", "", "", "profile"}, ParseCase{"a.b.c", "", "a.b", "c"},
                      ParseCase{"file", "", "file", ""},
                      ParseCase{R"(mixed/a\b.c/d.e)", R"(mixed/a\b.c/)", "d", "e"},
                      ParseCase{"name.", "", "name", ""}, ParseCase{"dir/", "dir/", "", ""}));

TEST(PositionLimits, TextsBeyond32767CharactersOverflow) {
  clsCommon c;
  const std::string fits(32767, 'x'), too_long(32768, 'x');
  EXPECT_EQ(ErrorNumber([&] { c.strParseFileName(fits, 1); }), 0);
  EXPECT_EQ(ErrorNumber([&] { c.strParseFileName(too_long, 1); }), 6);
  EXPECT_EQ(ErrorNumber([&] { c.SandR(too_long, "y", "z"); }), 6);
  EXPECT_EQ(ErrorNumber([&] { c.SandR(fits, "x", "xx"); }), 6);
  EXPECT_EQ(ErrorNumber([&] { c.FormatString(too_long); }), 6);
  EXPECT_EQ(ErrorNumber([&] { c.FormatString("%1%%1%", {fits}); }), 6);
}

TEST(LateBound, FormatStringTakesAVariableArgumentList) {
  clsCommon c;
  EXPECT_EQ(c.Call("FORMATSTRING", {"%1%+%2%=%3%", int32_t{1}, int16_t{2}, 3.0}).ToText(), "1+2=3");
  EXPECT_EQ(c.Call("FormatString", {"%1%"}).ToText(), "");
}

TEST(LateBound, ArgumentsAreCheckedAgainstTheMemberTable) {
  clsCommon c;
  EXPECT_EQ(ErrorNumber([&] { c.Call("strParseFileName", {"a.b", int32_t{70000}}); }), 6);
  EXPECT_EQ(ErrorNumber([&] { c.Call("strParseFileName", {"a.b", "one"}); }), 13);
  EXPECT_EQ(ErrorNumber([&] { c.Call("strParseFileName", {"a.b"}); }), 449);
  EXPECT_EQ(ErrorNumber([&] { c.Call("SandR", {"a", "b", "c", "d"}); }), 450);
  EXPECT_EQ(ErrorNumber([&] { c.Call("NoSuchMember"); }), 438);
  EXPECT_EQ(c.Call("strparsefilename", {"a.b", "2"}).ToText(), "b");
}

TEST(LateBound, RegistryMembersSayTheyAreNotInThisBuild) {
  clsCommon c;
  std::vector<Variant> args{int32_t(0x80000002), "SOFTWARE", "PATH", "keep"};
  EXPECT_EQ(ErrorNumber([&] { c.Invoke("GetKeyValue", InvokeKind::kMethod, args); }), 445);
  EXPECT_EQ(ErrorNumber([&] { c.StartSysInfo(); }), 445);
}

}  // namespace
}  // namespace vok
