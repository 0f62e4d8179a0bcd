// `voktools rtf extract|insert`: results and reports.
#include <gtest/gtest.h>

#include <string>

#include "cli/child_process.h"
#include "rtf_command.h"

namespace vok::test {
namespace {

// Two pictures, one with a nested group, and the two files extraction makes.
const std::string kDoc =
    "{\\rtf1 Hi\\par\r\n{\\pict\\pngblip 8950{\\*\\n x}0d0a}\\par\r\n{\\pict\\jpegblip ffd8}}";
const std::string kPlaced = "{\\rtf1 Hi\\par\r\n{\\v\\vok OBJ 1 }\\par\r\n{\\v\\vok OBJ 2 }}";
const std::string kObjects =
    "{\\v\\vok OBJ 1 }\r\n{\\pict\\pngblip 8950{\\*\\n x}0d0a}\r\n"
    "{\\v\\vok OBJ 2 }\r\n{\\pict\\jpegblip ffd8}\r\n{\\v\\vok OBJ 3 }\r\n";
const std::string kDone = "$DIR/doc.rtf: extracted, objects in $DIR/doc.obj\n";
const std::string kWarn = "voktools: warning: $DIR/doc.rtf: ";

class CliRtf : public ::testing::TestWithParam<CommandCase> {};

TEST_P(CliRtf, ReportsAndLeavesTheFiles) { CheckCommandCase(GetParam()); }

const CommandCase kCases[] = {
    {"MissingFileThenExtract", {{"doc.rtf", kDoc}}, {"rtf extract $DIR/gone.rtf $DIR/doc.rtf"}, 2, kDone,
     {{"doc.rtf", kPlaced}, {"doc.obj", kObjects}, {"doc.rtf.quon.tmp", std::nullopt}},
     "voktools: error: $DIR/gone.rtf: RTF file does not exist\n"},
    {"Insert", {{"doc.rtf", kPlaced}, {"doc.obj", kObjects}}, {"rtf insert $DIR/doc.rtf"}, 0,
     "$DIR/doc.rtf: inserted from $DIR/doc.obj\n", {{"doc.rtf", kDoc}}},
    {"JsonWithObjOption", {{"doc.rtf", kDoc}}, {"rtf extract --json --obj $DIR/o.bin $DIR/doc.rtf"}, 0,
     R"({"result":0,"errors":[],"warnings":[],"files":{"RTFFile":"$DIR/doc.rtf","ObjFile":"$DIR/o.bin"}})" "\n",
     {{"doc.rtf", kPlaced}, {"o.bin", kObjects}}},
    {"ForceOverridesTheGuard", {{"doc.rtf", kPlaced}, {"doc.obj", kObjects}},
     {"rtf extract --force $DIR/doc.rtf"}, 0, kDone, {{"doc.obj", "{\\v\\vok OBJ 1 }\r\n"}}},
    {"NoGuardWithoutObjectFile", {{"doc.rtf", kPlaced}}, {"rtf extract $DIR/doc.rtf"}, 0, kDone,
     {{"doc.obj", "{\\v\\vok OBJ 1 }\r\n"}}},
    // Every placeholder and object that found no partner is named.
    {"Mismatches",
     {{"doc.rtf", "{\\rtf1 Hi{\\v\\vok OBJ 1 }{\\v\\vok OBJ 5 }{\\v\\vok OBJ 1 }}"}, {"doc.obj", kObjects}},
     {"rtf insert $DIR/doc.rtf"}, 6, "",
     {{"doc.rtf", "{\\rtf1 Hi{\\pict\\pngblip 8950{\\*\\n x}0d0a}{\\pict\\pngblip 8950{\\*\\n x}0d0a}}"}},
     kWarn + "placeholder 5 has no object in $DIR/doc.obj; it was left out\n" + kWarn +
         "placeholder 1 stands more than once; its object is in the document each time\n" + kWarn +
         "object 2 of $DIR/doc.obj has no placeholder; it is lost from the document\n"
         "voktools: error: $DIR/doc.rtf: inserted from $DIR/doc.obj, but a placeholder had no "
         "object in the object file (its placeholder was left out)\n"},
    {"ObjectFileInMissingFolder", {{"doc.rtf", kDoc}}, {"rtf extract --obj $DIR/no/o.bin $DIR/doc.rtf"},
     4, "", {{"doc.rtf", kDoc}}, "object file $DIR/no/o.bin cannot be written: No such file or directory\n"},
    // A file of another kind is processed with a warning; a byte order mark
    // and white space before "{\rtf" are no reason for one.
    {"NotRtf", {{"doc.rtf", "<html>{\\pict x}"}}, {"rtf extract --strict $DIR/doc.rtf"}, 65, kDone,
     {{"doc.rtf", "<html>{\\v\\vok OBJ 1 }"}},
     kWarn + "not an RTF file (it does not begin with {\\rtf); processed all the same\n"},
    {"RtfAfterMarkAndSpace", {{"doc.rtf", "\xEF\xBB\xBF \r\n{\\rtf1}"}},
     {"rtf extract --strict $DIR/doc.rtf"}, 0, kDone, {}},
};

INSTANTIATE_TEST_SUITE_P(All, CliRtf, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return info.param.name; });

// The marker may straddle reads of any size; a near miss is no marker.
TEST(CliRtfCommand, ScanFindsTheMarkerAcrossReads) {
  ScratchDir dir;
  using cli::PlaceholderScan;
  const std::pair<std::string, PlaceholderScan> kFiles[] = {
      {"x{\\v\\vok OB{\\v\\vok OBJ 7 }", PlaceholderScan::kFound},
      {"{\\v\\vok OBJ" + std::string(20, 'x') + "\\vok OBJ ", PlaceholderScan::kNone},
  };
  for (size_t chunk : {1, 2, 5, 11, 12, 13, 65536}) {
    for (const auto& [text, expected] : kFiles) {
      WriteFile(dir / "f.rtf", text);
      EXPECT_EQ(cli::ScanForPlaceholders(dir / "f.rtf", chunk), expected) << text << chunk;
    }
    EXPECT_EQ(cli::ScanForPlaceholders(dir / "gone.rtf", chunk), PlaceholderScan::kUnreadable);
  }
}

}  // namespace
}  // namespace vok::test
