// `voktools mif ...`: batches, reports and the inset round trip.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/child_process.h"

namespace vok::test {
namespace {

const std::string kBook =
    "<MIFFile 7.00>\n<XRefFormats <XRefFormat <XRefName `See'> <XRefDef `see <$paratext\\>'>>>\n"
    "<Para <ParaLine <Marker <MType 2> <MText `print:laser'>> <String `Hi'>>>\n"
    "=Inset\n&data\n=EndInset\n";
const std::string kChapter = "<MIFFile 7.00>\n<Marker <MType 2> <MText `print:ink'>>\n";
const std::string kIndex =
    "<MIFFile 5.50>\r\n<QUONSeg 2>\r\n<TextFlow \r\n"
    " <Para \r\n  <QUONTag `print'>\r\n  <ParaLine \r\n   <String `print'>\r\n  >\r\n >\r\n"
    " <Para \r\n  <QUONTag `laser'>\r\n  <ParaLine \r\n   <String `laser'>\r\n  >\r\n >\r\n"
    " <Para \r\n  <QUONTag `ink'>\r\n  <ParaLine \r\n   <String `ink'>\r\n  >\r\n >\r\n>\r\n";
const std::string kTranslatedIndex =
    "<QUONSeg 2><Para <QUONTag `print'> <String `drucken'>>"
    "<Para <QUONTag `ink'> <String `Tinte'>>";
const std::string kNoParas = "<MIFFile 5.50>\r\n<TextFlow \r\n>\r\n";

// The three batch files of ch.mif; when damaged, "drucken" in the index file
// lost its closing quote (line 7), as a translation tool may leave it.
Files Batch(bool damaged) {
  std::string index = kIndex;
  if (damaged) index.replace(index.find("<String `print'"), 15, "<String `drucken");
  return {{"ch.mif", kChapter}, {"QUON_ix.mif", index}, {"QUON_xr.mif", kNoParas}, {"QUON_va.mif", kNoParas}};
}

// An object file of two insets, and a MIF file holding the placeholders
// named: each on a line of its own.
Files Placeholders(const std::vector<int>& numbers) {
  std::string mif = "<MIFFile 7.00>\n";
  for (int n : numbers) mif += "<QUONObj " + std::to_string(n) + ">\r\n";
  return {{"b.mif", mif},
          {"b.obj",
           "<QUONObj 1>\r\n=Inset\r\n&a\r\n=EndInset\r\n<QUONObj 2>\r\n=Inset\r\n&b\r\n"
           "=EndInset\r\n<QUONObj End>"}};
}
const std::string kWarnB = "voktools: warning: $DIR/b.mif: ";
const std::string kInsetA = "=Inset\r\n&a\r\n=EndInset\r\n\r\n";
const std::string kBatchDone =
    "EndBatch: wrote $DIR/QUON_ix.mif, $DIR/QUON_xr.mif, $DIR/QUON_va.mif\n";

class CliMif : public ::testing::TestWithParam<CommandCase> {};

TEST_P(CliMif, ReportsAndWritesTheFiles) { CheckCommandCase(GetParam()); }

const CommandCase kCases[] = {
    {"ExtractThenMergeUntranslatedChangesNothing", {{"book.mif", kBook}, {"ch.mif", kChapter}},
     {"mif extract -q --split 2 $DIR/book.mif $DIR/ch.mif", "mif merge -q --json $DIR/book.mif $DIR/ch.mif"}, 0,
     R"(..."IndexFile":"$DIR/QUON_ix.mif","XrefFile":"$DIR/QUON_xr.mif","VarFile":"$DIR/QUON_va.mif",)"
     R"("SplitOptions":2},"steps":[{"operation":"Merge","file":"$DIR/book.mif","result":0},)"
     R"({"operation":"Merge","file":"$DIR/ch.mif","result":0}]})" "\n",
     {{"book.mif", kBook}, {"ch.mif", kChapter}, {"QUON_ix.mif", kIndex}}},
    {"MergeNamedTranslations", {{"ch.mif", kChapter}, {"ix.mif", kTranslatedIndex}, {"xr", ""}, {"va", ""}},
     {"mif merge --index $DIR/ix.mif --xref $DIR/xr --var $DIR/va $DIR/ch.mif"}, 0, "$DIR/ch.mif: merged\n",
     {{"ch.mif", "<MIFFile 7.00>\n<Marker <MType 2> <MText `drucken:Tinte'>>\n"}}},
    {"AMissingFileIsCountedAndTheBatchGoesOn", {{"ch.mif", kChapter}}, {"mif extract $DIR/gone.mif $DIR/ch.mif"},
     1, "", {{"QUON_xr.mif", kNoParas}},
     "voktools: error: $DIR/gone.mif: failed (1): MIF file not found: $DIR/gone.mif\n"
     "$DIR/ch.mif: extracted\n" + kBatchDone + "MIF file not found\n"},
    {"ATagForTwoEntriesIsWarnedAbout",
     {{"a.mif", "<XRefFormats <XRefFormat <XRefName `a : b'> <XRefDef `c'>> "
                "<XRefFormat <XRefName `a'> <XRefDef `b : c'>>>\n"}},
     {"mif extract $DIR/a.mif"}, 0, "$DIR/a.mif: extracted\n" + kBatchDone, {},
     "voktools: warning: $DIR/QUON_xr.mif: the tag `a : b : c' stands for more than one entry; "
     "a merge gives them all the first one's translation\n"},
    {"InsetsOutAndBack", {{"book.mif", kBook}},
     {"mif remove-objects --obj $DIR/o.bin $DIR/book.mif", "mif insert-objects --obj $DIR/o.bin $DIR/book.mif"},
     0, "$DIR/book.mif: insets put back from $DIR/o.bin\n",
     {{"book.mif", kBook.substr(0, kBook.size() - 10) + "=EndInset\r\n\r\n"}, {"book.obj", std::nullopt}}},
    // Rebuilding: every placeholder and inset that found no partner is named.
    {"Mismatches", Placeholders({1, 5, 1}), {"mif insert-objects --strict $DIR/b.mif"}, 65,
     "$DIR/b.mif: insets put back from $DIR/b.obj\n",
     {{"b.mif", "<MIFFile 7.00>\n" + kInsetA + "=EndInset\r\n\r\n" + kInsetA}},
     kWarnB + "placeholder <QUONObj 5> found no inset in $DIR/b.obj; a bare =EndInset line took "
              "its place\n" + kWarnB +
         "placeholder <QUONObj 1> stands more than once; its inset is in the file each time\n" +
         kWarnB + "inset 2 of $DIR/b.obj was not put back (no placeholder asked for it); it is lost "
                  "from the MIF file\n"},
    // A damaged translated batch file: where its loading went wrong.
    {"StringWithoutItsClosingQuote", Batch(true), {"mif merge --strict $DIR/ch.mif"}, 65,
     "$DIR/ch.mif: merged\n", {},
     "voktools: warning: $DIR/QUON_ix.mif: line 7: a string runs on past its line end"},
    // The run's own batch files are no documents: a glob takes them too.
    {"BatchFilesAmongTheDocumentsAreSkipped", Batch(false),
     {"mif merge --strict $DIR/QUON_ix.mif $DIR/ch.mif $DIR/./QUON_va.mif $DIR/QUON_xr.mif"}, 0,
     "$DIR/ch.mif: merged\n", {},
     "voktools: note: $DIR/./QUON_va.mif skipped: it is the variables batch file of this run, "
     "not a document\n"},
    {"BatchFilesAreSkippedByAnExtractionToo", {{"ch.mif", kChapter}},
     {"mif extract -q $DIR/ch.mif", "mif extract --force $DIR/ch.mif $DIR/QUON_ix.mif"}, 0,
     "$DIR/ch.mif: extracted\n" + kBatchDone, {{"QUON_xr.mif", kNoParas}},
     "voktools: note: $DIR/QUON_ix.mif skipped: it is the index batch file of this run"},
    // A file of another kind is processed with a warning.
    {"NotAMifFile", {{"ch.mif", "<Marker <MType 2> <MText `print:ink'>>\n"}},
     {"mif extract --strict $DIR/ch.mif"}, 65, "$DIR/ch.mif: extracted\n" + kBatchDone, {},
     "voktools: warning: $DIR/ch.mif: not a MIF file (no <MIFFile in its first 1 KB); processed "
     "all the same\n"},
    // Reports say what was written, and name the file of every failure.
    {"NothingExtractedNothingWritten", {{"d/", ""}}, {"mif extract $DIR/gone.mif $DIR/d"}, 2, "",
     {{"QUON_ix.mif", std::nullopt}},
     "voktools: error: $DIR/gone.mif: failed (1): MIF file not found: $DIR/gone.mif\n"
     "$DIR/d: failed (1): Error reading : $DIR/d: not a regular file\n"
     "EndBatch: nothing written (no MIF file was read)\n"},
    {"BatchFileInAMissingFolder", {{"ch.mif", kChapter}},
     {"mif extract --json --index $DIR/no/ix.mif $DIR/ch.mif"}, 1,
     R"(...{"operation":"EndBatch","result":1,"errors":["Unable to open )"
     R"(index file: $DIR/no/ix.mif: No such file or directory"]}]})" "\n",
     {{"QUON_xr.mif", kNoParas}}},
};

INSTANTIATE_TEST_SUITE_P(All, CliMif, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace vok::test
