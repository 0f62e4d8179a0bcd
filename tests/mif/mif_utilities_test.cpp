#include "voktools/mif_utilities.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <map>
#include <ostream>
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

TEST(MifExtract, SplitOptionsCutTheMarkerTextIntoEntries) {
  const std::pair<int16_t, Texts> cases[] = {
      {0, {"Printing:laser;Printing:ink", " spaced; out:;"}},
      {1, {"Printing:laser", "Printing:ink", " spaced", " out:"}},
      {2, {"Printing", "laser", "ink", " spaced", " out", ""}},
      {5, {"Printing:laser", "Printing:ink", " spaced", " out:"}},
      {-1, {"Printing:laser;Printing:ink", " spaced; out:;"}}};
  for (const auto& [split, entries] : cases) {
    Batch b;
    ASSERT_EQ(b.Extract({Marker("Printing:laser;Printing:ink"), Marker(" spaced; out:;"),
                         Marker("  "), Marker("Printing:laser;x", 11)}, split), 0);
    EXPECT_EQ(b.Index(), entries) << split;
  }
}

// One paragraph per distinct entry: a marker's text, a format's or a
// variable's name and definition, a paragraph format's autonumber.
TEST(MifExtract, BatchFilesHoldOneParagraphPerDistinctEntry) {
  Batch b;
  const std::string catalog = Pgf("Heading", "H:<n+\\>") + Pgf("Body", "") +
                              "<Pgf \r\n <PgfTag `Plain'>\r\n>\r\n" + Pgf("Heading", "H:<n+\\>");
  ASSERT_EQ(b.Extract({Marker("a:b") + XRef("Page", "page\\ <$n\\>") + Var("Ver", "1.0") + catalog,
                       XRef("Page", "page\\ <$n\\>") + XRef("Page", "p.") + Var("Ver", "1.0") +
                           Var("Ver", "")}, 2), 0);
  auto para = [](const std::string& tag, const std::string& text) {
    return " <Para \r\n  <QUONTag `" + tag + "'>\r\n  <ParaLine \r\n   <String `" + text +
           "'>\r\n  >\r\n >\r\n";
  };
  EXPECT_EQ(ReadFile(b.dir / "QUON_ix.mif"), "<MIFFile 5.50>\r\n<QUONSeg 2>\r\n<TextFlow \r\n" +
                                                 para("a", "a") + para("b", "b") + ">\r\n");
  EXPECT_EQ(ReadFile(b.dir / "QUON_xr.mif"),
            "<MIFFile 5.50>\r\n<TextFlow \r\n" + para("Page : page\\ <$n\\>", "page\\ <$n\\>") +
                para("Page : p.", "p.") + ">\r\n");
  EXPECT_EQ(b.Vars(), (Texts{"Ver : 1.0", "Heading : H:<n+\\>", "Body : ", "Ver : "}));
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

// EndBatch writes every batch file it can and counts the others; nothing is
// written when no MIF file was read.
TEST(MifExtract, EndBatchWritesEveryFileItCanAndCountsTheOthers) {
  {
    ScratchDir dir;
    clsMIFUtilities m;
    EXPECT_EQ(m.Extract(), 1);
    EXPECT_EQ(m.ErrorList()->Texts(), Texts{"No MIF file specified"});
    m.IndexFile(dir / "ix.mif");
    EXPECT_EQ(m.EndBatch(), 0);
    EXPECT_FALSE(Exists(dir / "ix.mif"));
    m.StartBatch();
    EXPECT_EQ(m.ErrorList()->Count(), 0);
  }
  // Batch file names in the folder ("": not specified); r.mif is a
  // read-only file and d.mif a folder.
  const std::pair<Texts, Texts> cases[] = {
      {{"", "", ""}, {"Index file not specified", "Cross-reference file not specified",
                      "Variables file not specified"}},
      {{"no/ix.mif", "x.mif", "no/va.mif"}, {"Unable to open index file",
                                             "Unable to open variables file"}},
      {{"r.mif", "d.mif", "v.mif"}, {"Unable to open index file",
                                     "Unable to open cross-reference file"}}};
  for (const auto& [names, messages] : cases) {
    SCOPED_TRACE(messages.front());
    Batch b;
    WriteFile(b.dir / "a.mif", Marker("x"));
    WriteFile(b.dir / "r.mif", "translated");
    ::chmod((b.dir / "r.mif").c_str(), 0444);
    std::filesystem::create_directory(b.dir / "d.mif");
    b.m.StartBatch();
    b.m.MIFFile(b.dir / "a.mif");
    ASSERT_EQ(b.m.Extract(), 0);
    auto in_dir = [&](const std::string& n) { return n.empty() ? n : b.dir / n; };
    b.m.IndexFile(in_dir(names[0]));
    b.m.XrefFile(in_dir(names[1]));
    b.m.VarFile(in_dir(names[2]));
    EXPECT_EQ(b.m.EndBatch(), static_cast<int16_t>(messages.size()));
    EXPECT_EQ(b.m.ErrorList()->Texts(), messages);
    // Only the finished files are added to the folder.
    EXPECT_EQ(b.dir.Entries().size(), 3 + 3 - messages.size());
    EXPECT_EQ(ReadFile(b.dir / "r.mif"), "translated");
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

const std::string kNoParas = TranslatedFile("", {});

// Translated batch files merged into a MIF file.
TEST(MifMerge, WritesTheTranslationsBack) {
  struct Case {
    const char* name;
    int16_t host_split;
    std::string index, xref, var;  // translated files
    std::string mif, merged;
  } const cases[] = {
      {"segment without a digit keeps the host value", 1,
       TranslatedFile("<QUONSeg x>\r\n", {"<QUONTag `a:b'> <String `AB'>"}), kNoParas, kNoParas,
       Marker("a:b;c"), Marker("AB;c")},
      {"definitions join their strings", 0, kNoParas,
       TranslatedFile("", {"<QUONTag `P : p'> <ParaLine <String `S'> <String `e'>> "
                           "<ParaLine <String `ite'>>", "<QUONTag `Q : q'>"}),
       TranslatedFile("", {"<QUONTag `V : 1'> <String `One'>",
                           "<QUONTag `H : <n\\>'> <String `<a\\>'>"}),
       XRef("P", "p") + XRef("Q", "q") + Var("V", "1") + Pgf("H", "<n\\>"),
       XRef("P", "Seite") + XRef("Q", "q") + Var("V", "One") + Pgf("H", "<a\\>")},
      {"reading stops at a paragraph without tag", 0,
       TranslatedFile("", {"<QUONTag `a'> <String `A'>", "<QUONTag `b'> <String `B'>",
                           "<String `c'>", "<QUONTag `d'> <String `D'>"}),
       kNoParas, kNoParas, Marker("a") + Marker("b") + Marker("d"),
       Marker("A") + Marker("B") + Marker("d")},
      {"statements that cannot be merged pass unchanged", 2,
       TranslatedFile("", {"<QUONTag `a'> <String `A'>"}), kNoParas, kNoParas,
       "<Marker <MType 2> <Unique 1>>\r\n<Marker <MType 2> <MText `a>\r\n",
       "<Marker <MType 2> <Unique 1>>\r\n<Marker <MType 2> <MText `a>\r\n"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
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
}

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

// Merging the untranslated batch files gives every file back; merging the
// translated ones changes only the translatable strings, and extracting the
// merged files again finds exactly the translations.
void CheckRoundTrips(const Texts& mifs, int16_t split) {
  Batch b;
  ASSERT_EQ(b.Extract(mifs, split), 0);
  auto merge_all = [&] {
    clsMIFUtilities m;
    m.StartBatch();
    Texts merged;
    for (size_t i = 0; i < mifs.size(); ++i) {
      m.MIFFile(b.dir / ("f" + std::to_string(i) + ".mif"));
      EXPECT_EQ(m.Merge(), 0);
      merged.push_back(ReadFile(b.dir / ("f" + std::to_string(i) + ".mif")));
    }
    return merged;
  };
  ASSERT_TRUE(merge_all() == mifs);
  const Texts index = b.Index(), xrefs = b.Xrefs(), vars = b.Vars();
  for (const char* f : {"QUON_ix.mif", "QUON_xr.mif", "QUON_va.mif"}) Translate(b.dir / f);
  const Texts merged = merge_all();
  for (size_t i = 0; i < mifs.size(); ++i) {
    ASSERT_TRUE(WithoutTranslatable(merged[i]) == WithoutTranslatable(mifs[i])) << i;
  }
  Batch again;
  ASSERT_EQ(again.Extract(merged, split), 0);
  auto translated = [](Texts tags, bool pairs) {
    for (std::string& tag : tags) tag.insert(pairs ? tag.find(" : ") + 3 : 0, "T_");
    return tags;
  };
  EXPECT_EQ(again.Index(), translated(index, false));
  EXPECT_EQ(again.Xrefs(), translated(xrefs, true));
  EXPECT_EQ(again.Vars(), translated(vars, true));
}

// The merge target's seeds (their first byte picks the split options), one
// batch per split option, then the corpus files.
TEST(MifRoundTrip, FuzzSeedsAndCorpusDocuments) {
  std::map<int16_t, Texts> batches;
  for (const auto& entry : std::filesystem::directory_iterator(VOK_FUZZ_CORPUS_DIR "/mif_merge")) {
    const std::string seed = ReadFile(entry.path().string());
    batches[static_cast<int16_t>(static_cast<uint8_t>(seed[0]) % 4 - 1)].push_back(seed.substr(1));
  }
  for (auto& [split, mifs] : batches) {
    SCOPED_TRACE(split);
    std::sort(mifs.begin(), mifs.end());
    CheckRoundTrips(mifs, split);
  }
  if (!std::filesystem::exists(VOK_CORPUS_DIR "/mif")) GTEST_SKIP() << "no corpus";
  Texts mifs;
  for (const auto& entry : std::filesystem::directory_iterator(VOK_CORPUS_DIR "/mif"))
    mifs.push_back(ReadFile(entry.path().string()));
  ASSERT_FALSE(mifs.empty());
  CheckRoundTrips(mifs, 2);
}

}  // namespace
}  // namespace vok
