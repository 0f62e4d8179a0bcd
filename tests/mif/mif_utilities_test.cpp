#include "voktools/mif_utilities.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "platform/env.h"
#include "support/fault_file_system.h"
#include "support/scratch_dir.h"

namespace vok {
namespace {

using test::Exists;
using test::ReadFile;
using test::ScratchDir;
using test::WriteFile;
using Texts = std::vector<std::string>;

std::string Marker(const std::string& text, int type = 2) {
  return "<Marker \r\n <MType " + std::to_string(type) + ">\r\n <MTypeName `Index'>\r\n <MText `" +
         text + "'>\r\n <Unique 1>\r\n> # end of Marker\r\n";
}
std::string XRef(const std::string& name, const std::string& def) {
  return "<XRefFormats \r\n <XRefFormat \r\n  <XRefName `" + name + "'>\r\n  <XRefDef `" + def +
         "'>\r\n > # end of XRefFormat\r\n> # end of XRefFormats\r\n";
}
std::string Var(const std::string& name, const std::string& def) {
  return "<VariableFormats \r\n <VariableFormat \r\n  <VariableName `" + name +
         "'>\r\n  <VariableDef `" + def + "'>\r\n >\r\n>\r\n";
}
std::string Pgf(const std::string& tag, const std::string& format) {
  return "<Pgf \r\n <PgfTag `" + tag + "'>\r\n <PgfNumFormat `" + format + "'>\r\n>\r\n";
}

// The tags of the paragraphs of a batch file, in file order.
Texts Tags(const std::string& file) {
  Texts tags;
  const std::string text = ReadFile(file);
  for (size_t at = 0; (at = text.find("<QUONTag `", at)) != std::string::npos;) {
    at += 10;
    tags.push_back(text.substr(at, text.find("'>\r\n", at) - at));
  }
  return tags;
}

struct Batch {
  ScratchDir dir;
  clsMIFUtilities m;
  // Writes each text as a MIF file and extracts them all into one batch.
  int16_t Extract(const Texts& mifs, int16_t split = 0) {
    m.StartBatch();
    m.SplitOptions(split);
    int16_t result = 0;
    for (size_t i = 0; i < mifs.size(); ++i) {
      const std::string path = dir / ("f" + std::to_string(i) + ".mif");
      WriteFile(path, mifs[i]);
      m.MIFFile(path);
      result += m.Extract();
    }
    return static_cast<int16_t>(result + m.EndBatch());
  }
  Texts Index() { return Tags(dir / "QUON_ix.mif"); }
  Texts Xrefs() { return Tags(dir / "QUON_xr.mif"); }
  Texts Vars() { return Tags(dir / "QUON_va.mif"); }
};

struct SplitCase {
  int16_t split;
  Texts entries;
};

class MarkerSplitting : public ::testing::TestWithParam<SplitCase> {};

TEST_P(MarkerSplitting, CutsTheMarkerTextIntoEntries) {
  Batch b;
  const std::string text = "Printing:laser;Printing:ink";
  ASSERT_EQ(b.Extract({Marker(text), Marker(" spaced; out:;"), Marker("  "),
                       Marker("Printing:laser;x", 11)},
                      GetParam().split),
            0);
  EXPECT_EQ(b.Index(), GetParam().entries);
}

INSTANTIATE_TEST_SUITE_P(
    Mif, MarkerSplitting,
    ::testing::Values(
        SplitCase{0, {"Printing:laser;Printing:ink", " spaced; out:;"}},
        SplitCase{1, {"Printing:laser", "Printing:ink", " spaced", " out:"}},
        SplitCase{2, {"Printing", "laser", "ink", " spaced", " out", ""}},
        SplitCase{5, {"Printing:laser", "Printing:ink", " spaced", " out:"}},
        SplitCase{-1, {"Printing:laser;Printing:ink", " spaced; out:;"}}));

TEST(MifExtract, FormatsAndVariablesKeepOneEntryPerDistinctPair) {
  Batch b;
  const std::string catalog = Pgf("Heading", "H:<n+\\>") + Pgf("Body", "") +
                              "<Pgf \r\n <PgfTag `Plain'>\r\n>\r\n" + Pgf("Heading", "H:<n+\\>");
  ASSERT_EQ(b.Extract({XRef("Page", "page\\ <$pagenum\\>") + Var("Ver", "1.0") + catalog,
                       XRef("Page", "page\\ <$pagenum\\>") + XRef("Page", "p. <$pagenum\\>") +
                           Var("Ver", "1.0") + Var("Ver", "")}),
            0);
  EXPECT_EQ(b.Xrefs(), (Texts{"Page : page\\ <$pagenum\\>", "Page : p. <$pagenum\\>"}));
  EXPECT_EQ(b.Vars(), (Texts{"Ver : 1.0", "Heading : H:<n+\\>", "Body : ", "Ver : "}));
}

TEST(MifExtract, BatchFilesHaveTheirExactLayout) {
  Batch b;
  ASSERT_EQ(b.Extract({Marker("a:b") + Var("V", "")}, 2), 0);
  EXPECT_EQ(ReadFile(b.dir / "QUON_ix.mif"),
            "<MIFFile 5.50>\r\n<QUONSeg 2>\r\n<TextFlow \r\n"
            " <Para \r\n  <QUONTag `a'>\r\n  <ParaLine \r\n   <String `a'>\r\n  >\r\n >\r\n"
            " <Para \r\n  <QUONTag `b'>\r\n  <ParaLine \r\n   <String `b'>\r\n  >\r\n >\r\n"
            ">\r\n");
  EXPECT_EQ(ReadFile(b.dir / "QUON_va.mif"),
            "<MIFFile 5.50>\r\n<TextFlow \r\n"
            " <Para \r\n  <QUONTag `V : '>\r\n  <ParaLine \r\n   <String `'>\r\n  >\r\n >\r\n"
            ">\r\n");
  EXPECT_EQ(ReadFile(b.dir / "QUON_xr.mif"), "<MIFFile 5.50>\r\n<TextFlow \r\n>\r\n");
}

TEST(MifExtract, TheEntryAfterAFullTableIsDroppedWithOneMessage) {
  // Two more distinct entries than each table holds.
  std::string mif, xrefs = "<XRefFormats ", vars = "<VariableFormats ";
  for (int i = 0; i < 32768 + 2; ++i) {
    const std::string n = std::to_string(i);
    mif += Marker("e" + n) + Pgf("P" + n, "f");
    xrefs += "<XRefFormat <XRefName `X'> <XRefDef `" + n + "'>>";
  }
  vars += "<VariableFormat <VariableName `V'> <VariableDef `v'>>>";
  mif += xrefs + ">" + vars;
  Batch b;
  b.m.StartBatch();
  WriteFile(b.dir / "a.mif", mif);
  b.m.MIFFile(b.dir / "a.mif");
  EXPECT_EQ(b.m.Extract(), 3);
  EXPECT_EQ(b.m.Extract(), 0);
  EXPECT_EQ(b.m.TableCounts(), (std::vector<int32_t>{32768, 32768, 32768}));
  EXPECT_EQ(b.m.ErrorList()->Count(), 3);  // one per full table, not one per entry
  EXPECT_EQ(b.m.EndBatch(), 0);
  EXPECT_EQ(b.Index().back(), "e32767");
  EXPECT_EQ(b.Xrefs().back(), "X : 32767");
  EXPECT_EQ(b.Vars().back(), "P32767 : f");
}

TEST(MifExtract, FailuresBeforeOpeningLeaveTheBatchEmpty) {
  ScratchDir dir;
  clsMIFUtilities m;
  EXPECT_EQ(m.Extract(), 1);
  m.MIFFile(dir / "missing.mif");
  EXPECT_EQ(m.Extract(), 1);
  EXPECT_EQ(m.EndBatch(), 0);
  EXPECT_FALSE(Exists(dir / "QUON_ix.mif"));
  EXPECT_EQ(m.ErrorList()->Texts(), (Texts{"No MIF file specified", "MIF file not found"}));
  m.StartBatch();
  EXPECT_EQ(m.ErrorList()->Count(), 0);
}

TEST(MifExtract, EndBatchWritesEveryFileItCanAndCountsTheOthers) {
  struct Case {
    const char* name;
    // "": not specified; "-": in no folder; "r": a read-only file; "d": a folder
    std::string index, xref, var;
    Texts messages;
  };
  const std::vector<Case> cases = {
      {"none specified", "", "", "", {"Index file not specified",
                                      "Cross-reference file not specified",
                                      "Variables file not specified"}},
      {"none writable", "-", "-", "-", {"Unable to open index file",
                                         "Unable to open cross-reference file",
                                         "Unable to open variables file"}},
      {"one of each", "-", "x.mif", "", {"Unable to open index file",
                                          "Variables file not specified"}},
      {"read-only file, folder", "r", "d", "v.mif", {"Unable to open index file",
                                                     "Unable to open cross-reference file"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Batch b;
    WriteFile(b.dir / "a.mif", Marker("x"));
    b.m.StartBatch();
    b.m.MIFFile(b.dir / "a.mif");
    ASSERT_EQ(b.m.Extract(), 0);
    auto name = [&](const std::string& n) -> std::string {
      if (n.empty()) return "";
      if (n == "-") return b.dir / "no/such.mif";
      if (n == "d") std::filesystem::create_directory(b.dir / "d.mif");
      if (n == "r") {
        WriteFile(b.dir / "r.mif", "translated");
        ::chmod((b.dir / "r.mif").c_str(), 0444);
      }
      return b.dir / (n.size() == 1 ? n + ".mif" : n);
    };
    b.m.IndexFile(name(c.index));
    b.m.XrefFile(name(c.xref));
    b.m.VarFile(name(c.var));
    EXPECT_EQ(b.m.EndBatch(), static_cast<int16_t>(c.messages.size()));
    EXPECT_EQ(b.m.ErrorList()->Texts(), c.messages);
    // Only the finished files are left in the folder, beside what was there.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(b.dir.path()),
                            std::filesystem::directory_iterator()),
              1 + 3 - static_cast<long>(c.messages.size()) + (c.index == "r") + (c.xref == "d"));
    if (c.index == "r") {
      EXPECT_EQ(ReadFile(b.dir / "r.mif"), "translated");
    }
  }
}

TEST(MifExtract, DefaultNamesUseTheFolderOrTheWholeName) {
  ScratchDir dir;
  WriteFile(dir / "book.mif", "");
  const auto cwd = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  clsMIFUtilities m;
  m.MIFFile("book.mif");
  m.XrefFile("mine.mif");
  EXPECT_EQ(m.Extract(), 0);
  std::filesystem::current_path(cwd);
  EXPECT_EQ(m.IndexFile(), "book.mifQUON_ix.mif");
  EXPECT_EQ(m.XrefFile(), "mine.mif");
  m.StartBatch();
  m.MIFFile(dir / "book.mif");
  EXPECT_EQ(m.Extract(), 0);
  EXPECT_EQ(m.VarFile(), dir / "QUON_va.mif");
}

// ---------------------------------------------------------------- merging

std::string TranslatedFile(const std::string& seg, const Texts& paras) {
  std::string t = "<MIFFile 5.50>\r\n" + seg + "<TextFlow \r\n";
  for (const std::string& p : paras) t += " <Para " + p + ">\r\n";
  return t + ">\r\n";
}

struct MergeCase {
  const char* name;
  int16_t host_split;
  std::string index, xref, var;  // translated files
  std::string mif, merged;
};

void PrintTo(const MergeCase& c, std::ostream* os) { *os << c.name; }

class MifMerge : public ::testing::TestWithParam<MergeCase> {};

TEST_P(MifMerge, WritesTheTranslationsBack) {
  const MergeCase& c = GetParam();
  ScratchDir dir;
  WriteFile(dir / "QUON_ix.mif", c.index);
  WriteFile(dir / "QUON_xr.mif", c.xref);
  WriteFile(dir / "QUON_va.mif", c.var);
  WriteFile(dir / "a.mif", c.mif);
  clsMIFUtilities m;
  m.StartBatch();
  m.SplitOptions(c.host_split);
  m.MIFFile(dir / "a.mif");
  EXPECT_EQ(m.Merge(), 0);
  EXPECT_EQ(ReadFile(dir / "a.mif"), c.merged);
  EXPECT_EQ(m.ErrorList()->Count(), 0);
}

const std::string kNoParas = TranslatedFile("", {});

INSTANTIATE_TEST_SUITE_P(
    Mif, MifMerge,
    ::testing::Values(
        MergeCase{"SegmentOverridesTheHost", 0,
                  TranslatedFile("<QUONSeg 2>\r\n", {"<QUONTag `a'> <String `A'>",
                                                     "<QUONTag `b'> <String `B'> <String `x'>"}),
                  kNoParas, kNoParas, Marker("a:b;c") + Marker("a", 11),
                  Marker("A:B;c") + Marker("a", 11)},
        MergeCase{"SegmentWithoutADigitKeepsTheHostValue", 1,
                  TranslatedFile("<QUONSeg x>\r\n", {"<QUONTag `a:b'> <String `AB'>"}), kNoParas,
                  kNoParas, Marker("a:b;c"), Marker("AB;c")},
        MergeCase{"DefinitionsJoinTheirStrings", 0, kNoParas,
                  TranslatedFile("", {"<QUONTag `P : p'> <ParaLine <String `S'> <String `e'>> "
                                      "<ParaLine <String `ite'>>",
                                      "<QUONTag `Q : q'>"}),
                  TranslatedFile("", {"<QUONTag `V : 1'> <String `One'>",
                                      "<QUONTag `H : <n\\>'> <String `<a\\>'>"}),
                  XRef("P", "p") + XRef("Q", "q") + Var("V", "1") + Pgf("H", "<n\\>"),
                  XRef("P", "Seite") + XRef("Q", "q") + Var("V", "One") + Pgf("H", "<a\\>")},
        MergeCase{"ReadingStopsAtAParagraphWithoutTag", 0,
                  TranslatedFile("", {"<QUONTag `a'> <String `A'>", "<QUONTag `b'> <String `B'>",
                                      "<String `c'>", "<QUONTag `d'> <String `D'>"}),
                  kNoParas, kNoParas, Marker("a") + Marker("b") + Marker("d"),
                  Marker("A") + Marker("B") + Marker("d")},
        MergeCase{"StatementsThatCannotBeMergedPassUnchanged", 2,
                  TranslatedFile("", {"<QUONTag `a'> <String `A'>"}), kNoParas, kNoParas,
                  "<Marker <MType 2> <Unique 1>>\r\n<Marker <MType 2> <MText `a>\r\n",
                  "<Marker <MType 2> <Unique 1>>\r\n<Marker <MType 2> <MText `a>\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MifMerge, LoadsTheTranslationsOnceAndCountsMissingFiles) {
  ScratchDir dir;
  const std::string mif = Marker("a") + XRef("P", "p");
  WriteFile(dir / "a.mif", mif);
  clsMIFUtilities m;
  m.StartBatch();
  m.MIFFile(dir / "a.mif");
  EXPECT_EQ(m.Merge(), 3);
  EXPECT_EQ(m.ErrorList()->Texts(),
            (Texts{"Unable to open translated index file : " + dir / "QUON_ix.mif",
                   "Unable to open translated cross-reference file : " + dir / "QUON_xr.mif",
                   "Unable to open translated variables file : " + dir / "QUON_va.mif"}));
  EXPECT_EQ(ReadFile(dir / "a.mif"), mif);
  // The second merge of the batch does not look for the files again.
  WriteFile(dir / "ix.mif", TranslatedFile("", {"<QUONTag `a'> <String `A'>"}));
  m.IndexFile(dir / "ix.mif");
  EXPECT_EQ(m.Merge(), 0);
  EXPECT_EQ(ReadFile(dir / "a.mif"), mif);
  m.StartBatch();
  m.IndexFile(dir / "ix.mif");
  EXPECT_EQ(m.Merge(), 2);
  EXPECT_EQ(ReadFile(dir / "a.mif"), Marker("A") + XRef("P", "p"));
}

// ------------------------------------------------------------- round trips

// A translation that a test can recognise: every string of a batch file's
// paragraphs gets "T_" in front.
void Translate(const std::string& file) {
  std::string text = ReadFile(file), out;
  size_t from = 0;
  for (size_t at; (at = text.find("<String `", from)) != std::string::npos; from = at) {
    at += 9;
    out += text.substr(from, at - from) + "T_";
  }
  WriteFile(file, out + text.substr(from));
}

// The text with the strings that merging may change emptied.
std::string WithoutTranslatable(std::string text) {
  for (const char* element : {"<MText `", "<XRefDef `", "<VariableDef `", "<PgfNumFormat `"}) {
    const std::string e = element;
    for (size_t at = 0; (at = text.find(e, at)) != std::string::npos;) {
      at += e.size();
      size_t end = text.find('\'', at);
      if (end == std::string::npos) break;
      text.erase(at, end - at);
    }
  }
  return text;
}

std::string GeneratedMif(uint32_t seed) {
  std::mt19937 rng(seed);
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<uint32_t>(n)); };
  const Texts words = {"alpha", "beta", "a:b", "x;y", "", "  ", "g<h>", "Press:ink;laser"};
  std::string mif = "<MIFFile 7.00> # generated\n";
  for (int i = 0; i < 400; ++i) {
    switch (pick(6)) {
      case 0:
        mif += Marker(words[pick(8)] + words[pick(8)], pick(4) == 0 ? 11 : 2);
        break;
      case 1:
        mif += XRef("X" + std::to_string(pick(5)), words[pick(8)]);
        break;
      case 2:
        mif += Var("V" + std::to_string(pick(5)), words[pick(8)]);
        break;
      case 3:
        mif += "<Para \n <PgfTag `Body'>\n" + Pgf("P" + std::to_string(pick(5)), words[pick(8)]) +
               " <ParaLine <String `# <Pgf x'>>\n>\n";
        break;
      case 4:
        mif += "=Inset\n&%v\n=EndInset\n";
        break;
      default:
        mif += "<Para <ParaLine <String `" + words[pick(8)] + "'>>> # Marker <b> in a comment\n";
    }
  }
  return pick(2) ? mif : mif + "<XRefFormats <XRefFormat <XRefName `cut";
}

void CheckRoundTrips(const Texts& mifs, int16_t split) {
  Batch b;
  ASSERT_EQ(b.Extract(mifs, split), 0);
  auto merge_all = [&] {
    clsMIFUtilities m;
    m.StartBatch();
    for (size_t i = 0; i < mifs.size(); ++i) {
      m.MIFFile(b.dir / ("f" + std::to_string(i) + ".mif"));
      ASSERT_EQ(m.Merge(), 0);
    }
  };
  merge_all();
  for (size_t i = 0; i < mifs.size(); ++i) {
    ASSERT_TRUE(ReadFile(b.dir / ("f" + std::to_string(i) + ".mif")) == mifs[i]) << i;
  }
  const Texts index = b.Index(), xrefs = b.Xrefs(), vars = b.Vars();
  for (const char* f : {"QUON_ix.mif", "QUON_xr.mif", "QUON_va.mif"}) Translate(b.dir / f);
  merge_all();
  for (size_t i = 0; i < mifs.size(); ++i) {
    const std::string merged = ReadFile(b.dir / ("f" + std::to_string(i) + ".mif"));
    ASSERT_TRUE(WithoutTranslatable(merged) == WithoutTranslatable(mifs[i])) << i;
  }
  // Extracting the merged files again finds exactly the translations.
  Batch again;
  Texts merged;
  for (size_t i = 0; i < mifs.size(); ++i)
    merged.push_back(ReadFile(b.dir / ("f" + std::to_string(i) + ".mif")));
  ASSERT_EQ(again.Extract(merged, split), 0);
  auto translated = [](const Texts& tags, bool pairs) {
    Texts t;
    for (const std::string& tag : tags) {
      if (!pairs) {
        t.push_back("T_" + tag);
        continue;
      }
      const size_t sep = tag.find(" : ");
      t.push_back(tag.substr(0, sep + 3) + "T_" + tag.substr(sep + 3));
    }
    return t;
  };
  EXPECT_EQ(again.Index(), translated(index, false));
  EXPECT_EQ(again.Xrefs(), translated(xrefs, true));
  EXPECT_EQ(again.Vars(), translated(vars, true));
}

TEST(MifRoundTrip, GeneratedDocumentsComeBackOrCarryTheirTranslations) {
  for (uint32_t seed = 1; seed <= 12; ++seed) {
    SCOPED_TRACE(seed);
    CheckRoundTrips({GeneratedMif(seed), GeneratedMif(seed + 100)},
                    static_cast<int16_t>(seed % 3));
  }
}

TEST(MifRoundTrip, CorpusDocuments) {
  if (!std::filesystem::exists(VOK_CORPUS_DIR "/mif")) GTEST_SKIP() << "no corpus";
  Texts mifs;
  for (const auto& entry : std::filesystem::directory_iterator(VOK_CORPUS_DIR "/mif"))
    mifs.push_back(ReadFile(entry.path().string()));
  ASSERT_FALSE(mifs.empty());
  CheckRoundTrips(mifs, 2);
}

}  // namespace
}  // namespace vok
