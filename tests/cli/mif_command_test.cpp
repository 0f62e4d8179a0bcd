// `voktools mif ...`: batches, reports and the inset round trip.
#include <gtest/gtest.h>

#include <string>

#include "cli/child_process.h"
#include "cli/command_case.h"

namespace vok::test {
namespace {

const std::string kBook =
    "<MIFFile 7.00>\n<XRefFormats <XRefFormat <XRefName `See'> <XRefDef `see <$paratext\\>'>>>\n"
    "<Para <ParaLine <Marker <MType 2> <MText `print:laser'>> <String `Hi'>>>\n"
    "=Inset\n&data\n=EndInset\n";
const std::string kChapter = "<Marker <MType 2> <MText `print:ink'>>\n";
const std::string kIndex =
    "<MIFFile 5.50>\r\n<QUONSeg 2>\r\n<TextFlow \r\n"
    " <Para \r\n  <QUONTag `print'>\r\n  <ParaLine \r\n   <String `print'>\r\n  >\r\n >\r\n"
    " <Para \r\n  <QUONTag `laser'>\r\n  <ParaLine \r\n   <String `laser'>\r\n  >\r\n >\r\n"
    " <Para \r\n  <QUONTag `ink'>\r\n  <ParaLine \r\n   <String `ink'>\r\n  >\r\n >\r\n>\r\n";
const std::string kTranslatedIndex =
    "<QUONSeg 2><Para <QUONTag `print'> <String `drucken'>>"
    "<Para <QUONTag `ink'> <String `Tinte'>>";
const std::string kNoParas = "<MIFFile 5.50>\r\n<TextFlow \r\n>\r\n";

class CliMif : public ::testing::TestWithParam<CommandCase> {};

TEST_P(CliMif, ReportsAndWritesTheFiles) { CheckCommandCase(GetParam()); }

const CommandCase kCases[] = {
    {"ExtractThenMergeUntranslatedChangesNothing",
     {{"book.mif", kBook}, {"ch.mif", kChapter}},
     {"mif extract -q --split 2 $DIR/book.mif $DIR/ch.mif",
      "mif merge -q --json $DIR/book.mif $DIR/ch.mif"},
     0,
     R"({"result":0,"errors":[],"warnings":[],"files":{"MIFFile":"$DIR/ch.mif","ObjFile":"",)"
     R"("IndexFile":"$DIR/QUON_ix.mif","XrefFile":"$DIR/QUON_xr.mif","VarFile":)"
     R"("$DIR/QUON_va.mif","SplitOptions":2},"steps":[{"operation":"Merge","file":)"
     R"("$DIR/book.mif","result":0},{"operation":"Merge","file":"$DIR/ch.mif","result":0}]})"
     "\n",
     {{"book.mif", kBook}, {"ch.mif", kChapter}, {"QUON_ix.mif", kIndex}}},
    {"MergeNamedTranslations",
     {{"ch.mif", kChapter}, {"ix.mif", kTranslatedIndex}, {"xr", ""}, {"va", ""}},
     {"mif merge --index $DIR/ix.mif --xref $DIR/xr --var $DIR/va $DIR/ch.mif"},
     0,
     "$DIR/ch.mif: merged\n",
     {{"ch.mif", "<Marker <MType 2> <MText `drucken:Tinte'>>\n"}}},
    {"AMissingFileIsCountedAndTheBatchGoesOn",
     {{"ch.mif", kChapter}},
     {"mif extract $DIR/gone.mif $DIR/ch.mif"},
     1,
     "",
     {{"QUON_xr.mif", kNoParas}},
     "voktools: error: $DIR/gone.mif: failed (1)\n$DIR/ch.mif: extracted\n"
     "EndBatch: wrote $DIR/QUON_ix.mif, $DIR/QUON_xr.mif, $DIR/QUON_va.mif\n"
     "MIF file not found\n"},
    {"ATagForTwoEntriesIsWarnedAbout",
     {{"a.mif", "<XRefFormats <XRefFormat <XRefName `a : b'> <XRefDef `c'>> "
                "<XRefFormat <XRefName `a'> <XRefDef `b : c'>>>\n"}},
     {"mif extract $DIR/a.mif"},
     0,
     "$DIR/a.mif: extracted\n"
     "EndBatch: wrote $DIR/QUON_ix.mif, $DIR/QUON_xr.mif, $DIR/QUON_va.mif\n",
     {},
     "voktools: warning: $DIR/QUON_xr.mif: the tag `a : b : c' stands for more than one entry; "
     "a merge gives them all the first one's translation\n"},
    {"InsetsOutAndBack",
     {{"book.mif", kBook}},
     {"mif remove-objects --obj $DIR/o.bin $DIR/book.mif",
      "mif insert-objects --obj $DIR/o.bin $DIR/book.mif"},
     0,
     "$DIR/book.mif: insets put back from $DIR/o.bin\n",
     {{"book.mif", kBook.substr(0, kBook.size() - 10) + "=EndInset\r\n\r\n"},
      {"book.obj", std::nullopt}}},
    {"ObjWithTwoFiles",
     {{"book.mif", kBook}},
     {"mif remove-objects --obj $DIR/o.bin $DIR/book.mif $DIR/book.mif"},
     64,
     "",
     {{"book.mif", kBook}, {"o.bin", std::nullopt}}},
};

INSTANTIATE_TEST_SUITE_P(All, CliMif, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return info.param.name; });

// Several calls on one object form a batch; Progress travels by reference.
TEST(CliMifInvoke, OneObjectCarriesTheBatch) {
  ScratchDir dir;
  WriteFile(dir / "book.mif", kBook);
  WriteFile(dir / "ch.mif", kChapter);
  RunResult r = RunCli({"invoke"}, InDir(R"({"id":1,"create":"VOKTools.clsMIFUtilities"}
{"id":2,"object":1,"call":"StartBatch"}
{"id":3,"object":1,"let":"MIFFile","value":"$DIR/book.mif"}
{"id":4,"object":1,"call":"Extract"}
{"id":5,"object":1,"let":"MIFFile","value":"$DIR/ch.mif"}
{"id":6,"object":1,"call":"Extract"}
{"id":7,"object":1,"call":"EndBatch"}
)",
                                         dir));
  EXPECT_EQ(r.out, InDir(R"({"id":1,"ok":true,"object":1}
{"id":2,"ok":true,"result":null}
{"id":3,"ok":true,"result":null}
{"event":"Progress","object":1,"args":[100]}
{"id":4,"ok":true,"result":0}
{"id":5,"ok":true,"result":null}
{"event":"Progress","object":1,"args":[100]}
{"id":6,"ok":true,"result":0}
{"id":7,"ok":true,"result":0}
)",
                         dir));
  const std::string index = ReadFile(dir / "QUON_ix.mif");
  EXPECT_LT(index.find("<QUONTag `print:laser'>"), index.find("<QUONTag `print:ink'>"));
  EXPECT_NE(index.find("<QUONTag `print:ink'>"), std::string::npos);
}

}  // namespace
}  // namespace vok::test
