// `voktools languages` and `voktools codepages`: the tables as text and JSON,
// one language by its code, and the check of a file's bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "cli/child_process.h"
#include "json_text.h"
#include "languages_command.h"
#include "support/memory_file_system.h"

namespace vok::cli {
namespace {

using test::CommandCase;
using test::JsonLines;

class CliLanguages : public ::testing::TestWithParam<CommandCase> {};

TEST_P(CliLanguages, ReportsAndExits) { test::CheckCommandCase(GetParam()); }

const CommandCase kCases[] = {
    {"OneLanguageByCodeInAnyCase", {}, {"languages --code fr-ca"}, 0,
     "INDEX  CODE  CODEPAGE  ENTRY  DESCRIPTION\n"
     "   55  FR-CA     1252     42  French (Canada)\n", {}},
    {"UnknownCode", {}, {"languages --code FR-XX"}, 1, "", {},
     "voktools languages: no language has the code FR-XX"},
    {"CodePageTableStartsWithArabic", {}, {"codepages"}, 0,
     "...    0    1256  windows-1256    Arabic - Windows\n    1     864  ibm864", {}},
    {"ByteUndefinedInTheCodePage", {{"a.txt", "caf\xE9\r\nna\x81ve\n"}},
     {"codepages --check $DIR/a.txt --codepage 1252"}, 1,
     "$DIR/a.txt: not valid in code page 1252 (windows-1252): byte 0x81 at offset 8 (line 2, "
     "column 3)\n", {}},
    {"SameBytesValidInAnother", {{"a.txt", "caf\xE9\r\nna\x81ve\n"}},
     {"codepages --check $DIR/a.txt --codepage 1251"}, 0,
     "$DIR/a.txt: valid in code page 1251 (windows-1251), 12 bytes\n", {}},
    {"DoubleByteSequenceCutOff", {{"j.txt", "\x93\xFA\x96{\x8C\xEA\n\x82"}},
     {"codepages --check $DIR/j.txt --codepage 932"}, 1,
     "$DIR/j.txt: not valid in code page 932 (shift_jis): a sequence cut off by the end of the "
     "file, byte 0x82 at offset 7 (line 2, column 1)\n", {}},
    {"Folder", {{"d/", ""}}, {"codepages --check $DIR/d --codepage 1252"}, 1, "", {},
     "$DIR/d: cannot open the file: not a regular file"},
    {"CodePageNotInTheList", {{"a.txt", "a"}}, {"codepages --check $DIR/a.txt --codepage 1200"},
     1, "", {}, "code page 1200 is not in the list"},
    {"CheckNeedsACodePage", {{"a.txt", "a"}}, {"codepages --check $DIR/a.txt"}, 64, "", {}},
    {"CodePageNeedsCheck", {}, {"codepages --codepage 1252"}, 64, "", {}},
};

INSTANTIATE_TEST_SUITE_P(All, CliLanguages, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return info.param.name; });

CodePagesOptions JsonList() {
  CodePagesOptions options;
  options.json = true;
  return options;
}

// Every language's code-page entry, read back from JSON, has the language's
// code page; --code gives the same object as the full table.
TEST(LanguagesCommand, JsonTablesReadBackAgree) {
  std::ostringstream languages, pages, one, err;
  ASSERT_EQ(RunLanguages({.json = true, .code = ""}, languages, err), 0);
  ASSERT_EQ(RunCodePages(JsonList(), pages, err), 0);
  ASSERT_EQ(RunLanguages({.json = true, .code = "zh-tw"}, one, err), 0);
  const std::vector<Json> l = JsonLines(languages.str()), p = JsonLines(pages.str());
  ASSERT_EQ(l.size(), 147u);
  ASSERT_EQ(p.size(), 56u);
  for (size_t i = 0; i < l.size(); ++i) {
    EXPECT_EQ(l[i]["index"], i);
    const Json& page = p.at(l[i]["codepage_index"].get<size_t>());
    EXPECT_EQ(page["number"], l[i]["codepage"]) << l[i].dump();
    if (l[i]["code"] == "ZH-TW") {
      EXPECT_EQ(JsonLines(one.str()), std::vector<Json>{l[i]});
    }
  }
  EXPECT_EQ(p[42], Json::parse(R"({"index":42,"number":1252,"code":"windows-1252",)"
                               R"("description":"Latin 1 - Windows"})"));
  EXPECT_EQ(err.str(), "");
}

// The check of bytes read chunk at a time; nullopt for a charset iconv lacks.
std::optional<ByteCheck> CheckText(const std::string& bytes, const std::string& charset,
                                   size_t chunk = 1 << 16) {
  test::MemoryFileSystem fs;
  fs.WriteFile("/f", bytes);
  std::unique_ptr<ReadableFile> file;
  std::string error;
  EXPECT_TRUE(fs.OpenForRead("/f", &file).ok());
  return CheckBytes(*file, charset, &error, chunk);
}

ByteCheck Check(const std::string& bytes, const std::string& charset, size_t chunk) {
  return CheckText(bytes, charset, chunk).value_or(ByteCheck{.valid = false, .offset = -1});
}

std::string Describe(const ByteCheck& c) {
  return std::to_string(c.valid) + " " + std::to_string(c.offset) + " " + std::to_string(c.byte) +
         " " + std::to_string(c.line) + ":" + std::to_string(c.column) + " " +
         std::to_string(c.cut_off) + " " + std::to_string(c.bytes);
}

// Random texts: in a single-byte code page the answer is that of a model
// (the first undefined byte, lines and columns counted in bytes); in the
// multi-byte ones it does not depend on where the chunks are cut.
TEST(LanguagesCommand, CheckAgreesWithAModelAndIgnoresChunkEnds) {
  std::mt19937 rng(7);
  const std::string single = "ab\n\r\xE9\x81";  // 0x81 is undefined in CP1252
  const std::string multi = "a\n\x82\xA0\x93\xFA\xE3\x81\x82\xFF";
  for (int round = 0; round < 300; ++round) {
    std::string text;
    const std::string& alphabet = round % 2 ? single : multi;
    for (int n = int(rng() % 40); n > 0; --n) text += alphabet[rng() % alphabet.size()];
    const size_t chunk = 1 + rng() % 9;
    if (round % 2) {
      ByteCheck model;
      model.bytes = int64_t(text.size());
      for (size_t i = 0; i < text.size() && model.valid; ++i) {
        if (text[i] == '\x81') {
          model.valid = false, model.offset = int64_t(i), model.byte = 0x81;
        } else if (text[i] == '\n') {
          ++model.line, model.column = 1;
        } else {
          ++model.column;
        }
      }
      ByteCheck got = Check(text, "CP1252", chunk);
      if (!model.valid) model.bytes = got.bytes = 0;  // reading stops at the fault
      ASSERT_EQ(Describe(got), Describe(model)) << ToHex(text) << " chunk " << chunk;
    } else {
      for (const char* charset : {"CP932", "UTF-8"}) {
        ByteCheck whole = Check(text, charset, 1 << 16), cut = Check(text, charset, chunk);
        if (!whole.valid) whole.bytes = cut.bytes = 0;  // reading stops at the fault
        ASSERT_EQ(Describe(cut), Describe(whole)) << charset << " " << ToHex(text) << " chunk "
                                                  << chunk;
      }
    }
  }
}

TEST(LanguagesCommand, EveryCodePageHasANameIconvKnows) {
  std::ostringstream pages, err;
  ASSERT_EQ(RunCodePages(JsonList(), pages, err), 0);
  for (const Json& page : JsonLines(pages.str())) {
    const std::vector<std::string> names =
        IconvNames(page["number"].get<int32_t>(), page["code"].get<std::string>());
    // The two entries that carry another's character-set name are read as
    // their own number says.
    if (page["number"] == 875 || page["number"] == 1026) {
      EXPECT_EQ(names.front(), "IBM" + page["number"].dump());
    }
    EXPECT_TRUE(std::any_of(names.begin(), names.end(), [](const std::string& name) {
      return CheckText("", name).has_value();
    })) << page.dump();
  }
  EXPECT_FALSE(CheckText("a", "NO-SUCH-CHARSET").has_value());
}

}  // namespace
}  // namespace vok::cli
