#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "support/errors.h"
#include "support/fault_file_system.h"
#include "support/scratch_dir.h"
#include "voktools/automation_error.h"
#include "voktools/retrieve_file.h"

namespace vok {
namespace {

using test::ScratchDir;
using test::WriteFile;

// Lines as the reader must cut them: a line end is CR, LF, CR LF or LF CR.
std::vector<std::string> ReferenceLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c != '\r' && c != '\n') continue;
    size_t end = i + 1;
    if (end < text.size() && (text[end] == '\r' || text[end] == '\n') && text[end] != c) ++end;
    lines.push_back(text.substr(start, end - start));
    start = end;
    i = end - 1;
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

// A reader opened on path with the given chunk size.
std::unique_ptr<clsRetrieveFile> OpenReader(const std::string& path, int32_t chunk) {
  auto reader = std::make_unique<clsRetrieveFile>();
  reader->Filename(path);
  reader->ChunkSize(chunk);
  EXPECT_TRUE(reader->OpenFile());
  return reader;
}

// The lines of the file; the counters are checked on the way: LineNumber
// counts the line ends, Progress never goes back and ends at 100.
std::vector<std::string> ReadAll(const std::string& path, int32_t chunk, const std::string& text) {
  auto reader = OpenReader(path, chunk);
  std::vector<std::string> lines;
  std::string line;
  int32_t ended = 0;
  for (int16_t last = 0; reader->GetLineFromFile(line); last = reader->Progress()) {
    lines.push_back(line);
    ended += line.back() == '\r' || line.back() == '\n';
    EXPECT_GE(reader->Progress(), last);
  }
  EXPECT_EQ(line, "");
  EXPECT_EQ(reader->LineNumber(), ended);
  EXPECT_EQ(reader->Progress(), text.empty() ? 0 : 100);
  return lines;
}

class LineEndMixAtChunkSize : public ::testing::TestWithParam<int> {};

// Every text of up to six characters over {a, CR, LF}.
TEST_P(LineEndMixAtChunkSize, LinesConcatenateToTheFileAndCountLineEnds) {
  ScratchDir dir;
  for (int length = 0, count = 1; length <= 6; ++length, count *= 3) {
    for (int code = 0; code < count; ++code) {
      std::string text;
      for (int c = code, i = 0; i < length; ++i, c /= 3) text += "a\r\n"[c % 3];
      WriteFile(dir / "mix.txt", text);
      ASSERT_EQ(ReadAll(dir / "mix.txt", GetParam(), text), ReferenceLines(text)) << code;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(ChunkSizes, LineEndMixAtChunkSize, ::testing::Range(1, 10));

// Position is one past the bytes read so far, whole chunks; set to any line
// start, reading goes on from there.
TEST(RetrieveFile, PositionMovesToAnyLineStart) {
  ScratchDir dir;
  const std::string text = "one\r\ntwo\nthree\rfour\n\rfive";
  WriteFile(dir / "p", text);
  auto reader = OpenReader(dir / "p", 3);
  EXPECT_EQ(reader->Position(), 1);
  std::string line;
  ASSERT_TRUE(reader->GetLineFromFile(line));
  EXPECT_EQ(reader->Position(), 7);
  EXPECT_EQ(reader->Progress(), 24);  // 6 of 25 bytes: 24
  size_t offset = 0;
  for (const std::string& next : ReferenceLines(text)) {
    reader->Position(static_cast<int32_t>(offset + 1));
    EXPECT_EQ(reader->Position(), static_cast<int32_t>(offset + 1));
    std::string rest;
    while (reader->GetLineFromFile(line)) rest += line;
    EXPECT_EQ(rest, text.substr(offset));
    EXPECT_EQ(reader->Position(), static_cast<int32_t>(text.size() + 1));
    offset += next.size();
  }
  reader->Position(static_cast<int32_t>(text.size() + 50));  // past the end: nothing left
  EXPECT_FALSE(reader->GetLineFromFile(line));
}

// Failed opens leave the reader usable, a reopen starts over, and without an
// open file only the lines already buffered are served.
TEST(RetrieveFile, OpenAndCloseStates) {
  ScratchDir dir;
  clsRetrieveFile reader;
  EXPECT_THROW(reader.ChunkSize(0), AutomationError);
  EXPECT_EQ(reader.ChunkSize(), 4096);
  EXPECT_FALSE(reader.OpenFile());  // no name
  reader.Filename(dir / "missing.txt");
  EXPECT_FALSE(reader.OpenFile());
  reader.Filename(dir.path());  // a folder is not a file
  EXPECT_FALSE(reader.OpenFile());
  WriteFile(dir / "f", "a\nb\nc\nd\n");
  reader.Filename(dir / "f");
  reader.ChunkSize(5);
  std::string line;
  for (int open = 0; open < 2; ++open) {
    ASSERT_TRUE(reader.OpenFile());
    EXPECT_EQ(reader.LineNumber(), 0);
    EXPECT_EQ(reader.Progress(), 0);
    EXPECT_TRUE(reader.GetLineFromFile(line));
    EXPECT_EQ(line, "a\n");
    EXPECT_EQ(reader.LineNumber(), 1);
  }
  reader.CloseFile();
  EXPECT_EQ(reader.Progress(), 0);
  EXPECT_TRUE(reader.GetLineFromFile(line));  // "b\n" and the "c" after it are buffered
  EXPECT_EQ(line, "b\n");
  EXPECT_EQ(test::ErrorNumber([&] { reader.GetLineFromFile(line); }), 52);  // refill without a file
  EXPECT_THROW(reader.Position(), AutomationError);
  EXPECT_THROW(reader.Position(1), AutomationError);
  EXPECT_NO_THROW(reader.CloseFile());
}

}  // namespace
}  // namespace vok
