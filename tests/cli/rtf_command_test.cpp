// `voktools rtf extract|insert`: results and reports.
#include <gtest/gtest.h>

#include <cerrno>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "cli/child_process.h"
#include "rtf_command.h"
#include "support/fault_file_system.h"
#include "support/scratch_dir.h"

namespace vok::test {
namespace {

// Two pictures, one with a nested group, and the two files extraction makes.
const std::string kDoc =
    "{\\rtf1 Hi\\par\r\n{\\pict\\pngblip 8950{\\*\\n x}0d0a}\\par\r\n{\\pict\\jpegblip ffd8}}";
const std::string kPlaced = "{\\rtf1 Hi\\par\r\n{\\v\\vok OBJ 1 }\\par\r\n{\\v\\vok OBJ 2 }}";
const std::string kObjects =
    "{\\v\\vok OBJ 1 }\r\n{\\pict\\pngblip 8950{\\*\\n x}0d0a}\r\n"
    "{\\v\\vok OBJ 2 }\r\n{\\pict\\jpegblip ffd8}\r\n{\\v\\vok OBJ 3 }\r\n";

std::string InDir(std::string s, const ScratchDir& dir) {
  for (size_t p; (p = s.find("$DIR/")) != std::string::npos;) s.replace(p, 5, dir.path());
  return s;
}

using Files = std::map<std::string, std::string>;  // name in the scratch folder: bytes

struct RtfCase {
  std::string name;
  Files before;
  std::string args;  // split at spaces
  int status;
  std::string out;
  Files after;
  std::string err = {};  // a text standard error holds; empty: not checked
};

void PrintTo(const RtfCase& c, std::ostream* os) { *os << c.name; }

class CliRtf : public ::testing::TestWithParam<RtfCase> {};

TEST_P(CliRtf, ReportsAndLeavesTheFiles) {
  ScratchDir dir;
  for (const auto& [name, bytes] : GetParam().before) WriteFile(dir / name, bytes);
  std::vector<std::string> args{"rtf"};
  std::istringstream words(GetParam().args);
  for (std::string w; words >> w;) args.push_back(InDir(w, dir));
  RunResult r = RunCli(args);
  EXPECT_EQ(r.status, GetParam().status) << r.err;
  EXPECT_EQ(r.out, InDir(GetParam().out, dir));
  if (!GetParam().err.empty()) {
    EXPECT_NE(r.err.find(InDir(GetParam().err, dir)), std::string::npos) << r.err;
  }
  for (const auto& [name, bytes] : GetParam().after) EXPECT_EQ(ReadFile(dir / name), bytes) << name;
  EXPECT_FALSE(Exists(dir / "doc.rtf.quon.tmp"));
}

const Files kFresh{{"doc.rtf", kDoc}};
const Files kExtracted{{"doc.rtf", kPlaced}, {"doc.obj", kObjects}};
const Files kNoObjects{{"doc.obj", "{\\v\\vok OBJ 1 }\r\n"}};
const Files kPlacedOnly{{"doc.rtf", kPlaced}};
const Files kInOtherFile{{"doc.rtf", kPlaced}, {"o.bin", kObjects}};
const Files kObjectOneMissing{
    {"doc.rtf", kPlaced}, {"doc.obj", "{\\v\\vok OBJ 2 }\r\n{\\pict b}\r\n{\\v\\vok OBJ 3 }\r\n"}};
const Files kObjectOneLeftOut{{"doc.rtf", "{\\rtf1 Hi\\par\r\n\\par\r\n{\\pict b}}"}};
const std::string kDone = "$DIR/doc.rtf: extracted, objects in $DIR/doc.obj\n";
const std::string kInserted = "$DIR/doc.rtf: inserted from $DIR/doc.obj\n";

// The document of kObjects with its placeholders edited: each number in
// turn, and the files an insertion starts from.
Files Edited(std::vector<int> numbers) {
  std::string rtf = "{\\rtf1 Hi";
  for (int n : numbers) rtf += "{\\v\\vok OBJ " + std::to_string(n) + " }";
  return {{"doc.rtf", rtf + "}"}, {"doc.obj", kObjects}};
}
const std::string kWarn = "voktools: warning: $DIR/doc.rtf: ";
std::string NoObject(int n) {
  return kWarn + "placeholder " + std::to_string(n) +
         " has no object in $DIR/doc.obj; it was left out\n";
}
std::string Lost(int n) {
  return kWarn + "object " + std::to_string(n) +
         " of $DIR/doc.obj has no placeholder; it is lost from the document\n";
}
const std::string kLeftOut =
    "voktools: error: $DIR/doc.rtf: inserted from $DIR/doc.obj, but a placeholder had no object "
    "in the object file (its placeholder was left out)\n";

const RtfCase kCases[] = {
    {"Extract", kFresh, "extract $DIR/doc.rtf", 0, kDone, kExtracted},
    {"Insert", kExtracted, "insert $DIR/doc.rtf", 0, "$DIR/doc.rtf: inserted from $DIR/doc.obj\n",
     kFresh},
    {"JsonWithObjOption", kFresh, "extract --json --obj $DIR/o.bin $DIR/doc.rtf", 0,
     R"({"result":0,"errors":[],"warnings":[],"files":{"RTFFile":"$DIR/doc.rtf","ObjFile":"$DIR/o.bin"}})"
     "\n",
     kInOtherFile},
    {"ForceOverridesTheGuard", kExtracted, "extract --force $DIR/doc.rtf", 0, kDone, kNoObjects},
    {"NoGuardWithoutObjectFile", kPlacedOnly, "extract $DIR/doc.rtf", 0, kDone, kNoObjects},
    {"MissingFileThenGoodOne", kFresh, "extract $DIR/gone.rtf $DIR/doc.rtf", 2, kDone, kPlacedOnly,
     "voktools: error: $DIR/gone.rtf: RTF file does not exist\n"},
    {"ObjectMissing", kObjectOneMissing, "insert $DIR/doc.rtf", 6, "", kObjectOneLeftOut,
     "voktools: error: $DIR/doc.rtf: inserted from $DIR/doc.obj, but a placeholder had no object "
     "in the object file (its placeholder was left out)\n"},
    {"ObjWithTwoFiles", kFresh, "insert --obj $DIR/o.bin $DIR/doc.rtf $DIR/doc.rtf", 64, "",
     kFresh},
    // Every placeholder and object that found no partner is named.
    {"StrictCleanInsert", kExtracted, "insert --strict $DIR/doc.rtf", 0, kInserted, kFresh},
    {"DeletedPlaceholder",
     Edited({2}),
     "insert $DIR/doc.rtf",
     0,
     kInserted,
     {{"doc.rtf", "{\\rtf1 Hi{\\pict\\jpegblip ffd8}}"}},
     Lost(1)},
    {"LastPlaceholderDeleted",
     Edited({1}),
     "insert --strict $DIR/doc.rtf",
     65,
     kInserted,
     {},
     Lost(2)},
    {"RenumberedPlaceholder",
     Edited({1, 5}),
     "insert $DIR/doc.rtf",
     6,
     "",
     {},
     NoObject(5) + Lost(2) + kLeftOut},
    {"DuplicatedPlaceholder",
     Edited({1, 2, 1}),
     "insert --strict $DIR/doc.rtf",
     65,
     kInserted,
     {},
     kWarn + "placeholder 1 stands more than once; its object is in the document each time\n"},
    {"UnknownPlaceholder", Edited({1, 2, 9}), "insert $DIR/doc.rtf", 6, "", {}, NoObject(9)},
    {"MismatchesInJson",
     Edited({5, 2}),
     "insert --json $DIR/doc.rtf",
     6,
     R"x({"result":6,"errors":["$DIR/doc.rtf: inserted from $DIR/doc.obj, but a placeholder had )x"
     R"x(no object in the object file (its placeholder was left out)"],"warnings":["$DIR/doc.rtf: )x"
     R"x(placeholder 5 has no object in $DIR/doc.obj; it was left out","$DIR/doc.rtf: object 1 of )x"
     R"x($DIR/doc.obj has no placeholder; it is lost from the document"],"files":{"RTFFile":)x"
     R"x("$DIR/doc.rtf","ObjFile":"$DIR/doc.obj"}})x"
     "\n",
     {}},
    // A failure's reason is in the errors.
    {"FailureInJson", kFresh, "extract --json $DIR/gone.rtf", 2,
     R"({"result":2,"errors":["$DIR/gone.rtf: RTF file does not exist"],"warnings":[],"files":)"
     R"({"RTFFile":"$DIR/gone.rtf","ObjFile":"$DIR/gone.obj"}})"
     "\n",
     kFresh},
    {"ObjectFileInMissingFolder", kFresh, "extract --obj $DIR/no/o.bin $DIR/doc.rtf", 4, "", kFresh,
     "voktools: error: $DIR/doc.rtf: object file $DIR/no/o.bin cannot be written: No such file or "
     "directory\n"},
    // A file of another kind is processed with a warning; a byte order mark
    // and white space before "{\rtf" are no reason for one.
    {"NotRtf",
     {{"doc.rtf", "<html>{\\pict x}"}},
     "extract --strict $DIR/doc.rtf",
     65,
     kDone,
     {{"doc.rtf", "<html>{\\v\\vok OBJ 1 }"}},
     kWarn + "not an RTF file (it does not begin with {\\rtf); processed all the same\n"},
    {"RtfAfterMarkAndSpace",
     {{"doc.rtf", "\xEF\xBB\xBF \r\n{\\rtf1}"}},
     "extract --strict $DIR/doc.rtf",
     0,
     kDone,
     {}},
};

INSTANTIATE_TEST_SUITE_P(All, CliRtf, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return info.param.name; });

// The new text cannot replace the RTF file: a failure, the file as it was.
TEST(CliRtfCommand, FailedReplacementIsAFailureAndLeavesTheFile) {
  ScratchDir dir;
  WriteFile(dir / "doc.rtf", kDoc);
  TestEnv env;
  env.fs.FailOp("CheckRemovable", EACCES, "doc.rtf");
  std::ostringstream out, err;
  cli::Reporter reporter({.json = true, .quiet = false}, out, err, /*err_is_terminal=*/true);
  cli::RtfOptions options;
  options.files = {dir / "doc.rtf"};
  EXPECT_EQ(cli::RunRtfExtract(options, reporter), cli::kRtfNotReplaced);
  EXPECT_EQ(out.str(),
            InDir(R"({"result":9,"errors":["$DIR/doc.rtf: the RTF file could not be replaced, )"
                  R"(and is unchanged: Error deleting : $DIR/doc.rtf: Permission denied"],)"
                  R"("warnings":[],"files":{"RTFFile":"$DIR/doc.rtf","ObjFile":"$DIR/doc.obj"}})"
                  "\n",
                  dir));
  EXPECT_EQ(ReadFile(dir / "doc.rtf"), kDoc);
  EXPECT_FALSE(Exists(dir / "doc.rtf.quon.tmp"));
  EXPECT_NE(err.str().find("100%"), std::string::npos);  // progress from the bytes read
}

TEST(CliRtfCommand, InvokeCreatesTheClassAndExtracts) {
  ScratchDir dir;
  WriteFile(dir / "doc.rtf", kDoc);
  RunResult r = RunCli({"invoke"}, InDir(R"({"id":1,"create":"VOKTools.clsRTFUtil"}
{"id":2,"object":1,"let":"RTFFile","value":"$DIR/doc.rtf"}
{"id":3,"object":1,"call":"ExtractObjects"}
{"id":4,"object":1,"get":"ObjFile"}
)",
                                         dir));
  EXPECT_EQ(r.out, InDir(R"({"id":1,"ok":true,"object":1}
{"id":2,"ok":true,"result":null}
{"id":3,"ok":true,"result":0}
{"id":4,"ok":true,"result":"$DIR/doc.obj"}
)",
                         dir));
  EXPECT_EQ(ReadFile(dir / "doc.obj"), kObjects);
}

// The marker may straddle reads of any size; a near miss is no marker.
class CliRtfScan : public ::testing::TestWithParam<size_t> {};

TEST_P(CliRtfScan, FindsTheMarkerAcrossReads) {
  ScratchDir dir;
  using cli::PlaceholderScan;
  const std::pair<std::string, PlaceholderScan> kFiles[] = {
      {"x{\\v\\vok OB{\\v\\vok OBJ 7 }", PlaceholderScan::kFound},
      {"{\\v\\vok OBJ" + std::string(20, 'x') + "\\vok OBJ ", PlaceholderScan::kNone},
  };
  for (const auto& [text, expected] : kFiles) {
    WriteFile(dir / "f.rtf", text);
    EXPECT_EQ(cli::ScanForPlaceholders(dir / "f.rtf", GetParam()), expected) << text;
  }
  EXPECT_EQ(cli::ScanForPlaceholders(dir / "gone.rtf", GetParam()), PlaceholderScan::kUnreadable);
}

INSTANTIATE_TEST_SUITE_P(All, CliRtfScan, ::testing::Values(1, 2, 5, 11, 12, 13, 65536));

}  // namespace
}  // namespace vok::test
