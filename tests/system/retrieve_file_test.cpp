#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
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

struct ReadResult {
  std::vector<std::string> lines;
  int32_t line_number = 0;
  int16_t final_progress = 0;
  bool progress_monotonic = true;
};

ReadResult ReadAll(const std::string& path, int32_t chunk) {
  auto opened = OpenReader(path, chunk);
  clsRetrieveFile& reader = *opened;
  ReadResult r;
  std::string line;
  int16_t last = 0;
  while (reader.GetLineFromFile(line)) {
    r.lines.push_back(line);
    if (reader.Progress() < last) r.progress_monotonic = false;
    last = reader.Progress();
  }
  EXPECT_EQ(line, "");
  r.line_number = reader.LineNumber();
  r.final_progress = reader.Progress();
  reader.CloseFile();
  return r;
}

// Every text of up to six characters over {a, CR, LF}.
std::vector<std::string> AllMixes() {
  std::vector<std::string> texts{""};
  std::vector<std::string> frontier{""};
  for (int len = 1; len <= 6; ++len) {
    std::vector<std::string> next;
    for (const std::string& t : frontier) {
      for (char c : {'a', '\r', '\n'}) next.push_back(t + c);
    }
    texts.insert(texts.end(), next.begin(), next.end());
    frontier = std::move(next);
  }
  return texts;
}

class LineEndMixAtChunkSize : public ::testing::TestWithParam<int> {};

TEST_P(LineEndMixAtChunkSize, LinesConcatenateToTheFileAndCountLineEnds) {
  ScratchDir dir;
  const std::string path = dir / "mix.txt";
  for (const std::string& text : AllMixes()) {
    WriteFile(path, text);
    ReadResult r = ReadAll(path, GetParam());
    std::vector<std::string> expected = ReferenceLines(text);
    ASSERT_EQ(r.lines, expected) << "text of " << text.size() << " bytes";
    bool last_open = !text.empty() && text.back() != '\r' && text.back() != '\n';
    EXPECT_EQ(r.line_number, static_cast<int32_t>(expected.size()) - (last_open ? 1 : 0));
    EXPECT_EQ(r.final_progress, text.empty() ? 0 : 100);
    EXPECT_TRUE(r.progress_monotonic);
  }
}

INSTANTIATE_TEST_SUITE_P(ChunkSizes, LineEndMixAtChunkSize, ::testing::Range(1, 10));

TEST(RetrieveFile, LongLinesAcrossManyChunksKeepEveryByte) {
  ScratchDir dir;
  std::string text;
  for (int i = 0; i < 300; ++i) {
    text += std::string(static_cast<size_t>(i * 37 % 9000), static_cast<char>('a' + i % 26));
    text += (i % 4 == 0) ? "\r\n" : (i % 4 == 1) ? "\n" : (i % 4 == 2) ? "\r" : "\n\r";
  }
  WriteFile(dir / "long", text);
  for (int chunk : {1, 7, 4096, 65536}) {
    EXPECT_EQ(ReadAll(dir / "long", chunk).lines, ReferenceLines(text)) << chunk;
  }
}

TEST(RetrieveFile, CorpusDocumentsComeBackByteForByte) {
  const std::filesystem::path corpus = VOK_CORPUS_DIR;
  if (!std::filesystem::exists(corpus)) GTEST_SKIP() << "no corpus at " << corpus;
  int files = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(corpus)) {
    if (!entry.is_regular_file()) continue;
    std::string text = test::ReadFile(entry.path().string());
    std::vector<std::string> expected = ReferenceLines(text);
    for (int chunk : {7, 4096}) {
      EXPECT_EQ(ReadAll(entry.path().string(), chunk).lines, expected)
          << entry.path() << " chunk " << chunk;
    }
    ++files;
  }
  EXPECT_GT(files, 20);
}

TEST(RetrieveFile, PositionMovesToAnyLineStart) {
  ScratchDir dir;
  const std::string text = "one\r\ntwo\nthree\rfour\n\rfive";
  WriteFile(dir / "p", text);
  std::vector<std::string> lines = ReferenceLines(text);
  auto opened = OpenReader(dir / "p", 3);
  clsRetrieveFile& reader = *opened;
  size_t offset = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    reader.Position(static_cast<int32_t>(offset + 1));
    EXPECT_EQ(reader.Position(), static_cast<int32_t>(offset + 1));
    std::string rest, line;
    while (reader.GetLineFromFile(line)) rest += line;
    EXPECT_EQ(rest, text.substr(offset)) << "from line " << i;
    EXPECT_EQ(reader.Position(), static_cast<int32_t>(text.size() + 1));
    offset += lines[i].size();
  }
  reader.Position(static_cast<int32_t>(text.size() + 50));  // past the end: nothing left
  std::string line;
  EXPECT_FALSE(reader.GetLineFromFile(line));
}

TEST(RetrieveFile, PositionIsAfterTheLastChunkRead) {
  ScratchDir dir;
  WriteFile(dir / "p", "ab\ncd\nef\n");
  auto opened = OpenReader(dir / "p", 4);
  clsRetrieveFile& reader = *opened;
  EXPECT_EQ(reader.Position(), 1);
  std::string line;
  ASSERT_TRUE(reader.GetLineFromFile(line));
  EXPECT_EQ(reader.Position(), 5);
  EXPECT_EQ(reader.Progress(), 44);  // 4 of 9 bytes: 44.4
}

TEST(RetrieveFile, OpenFailuresLeaveTheReaderUsable) {
  ScratchDir dir;
  clsRetrieveFile reader;
  EXPECT_FALSE(reader.OpenFile());  // no name
  reader.Filename(dir / "missing.txt");
  EXPECT_FALSE(reader.OpenFile());
  reader.Filename(dir.path());  // a folder is not a file
  EXPECT_FALSE(reader.OpenFile());
  WriteFile(dir / "there.txt", "x\n");
  reader.Filename(dir / "there.txt");
  EXPECT_TRUE(reader.OpenFile());
  std::string line;
  EXPECT_TRUE(reader.GetLineFromFile(line));
  EXPECT_EQ(line, "x\n");
}

TEST(RetrieveFile, WithoutAnOpenFileOnlyBufferedLinesAreServed) {
  ScratchDir dir;
  WriteFile(dir / "f", "a\nb\nc\nd\n");
  auto opened = OpenReader(dir / "f", 5);
  clsRetrieveFile& reader = *opened;
  std::string line;
  ASSERT_TRUE(reader.GetLineFromFile(line));
  reader.CloseFile();
  EXPECT_EQ(reader.Progress(), 0);
  EXPECT_TRUE(reader.GetLineFromFile(line));  // "b\n" and the "c" after it are buffered
  EXPECT_EQ(line, "b\n");
  EXPECT_EQ(test::ErrorNumber([&] { reader.GetLineFromFile(line); }), 52);  // refill without a file
  EXPECT_THROW(reader.Position(), AutomationError);
  EXPECT_THROW(reader.Position(1), AutomationError);
  EXPECT_NO_THROW(reader.CloseFile());
}

TEST(RetrieveFile, ReopeningResetsTheCounters) {
  ScratchDir dir;
  WriteFile(dir / "f", "a\nb\n");
  clsRetrieveFile reader;
  reader.Filename(dir / "f");
  ASSERT_TRUE(reader.OpenFile());
  std::string line;
  while (reader.GetLineFromFile(line)) {
  }
  EXPECT_EQ(reader.LineNumber(), 2);
  ASSERT_TRUE(reader.OpenFile());
  EXPECT_EQ(reader.LineNumber(), 0);
  EXPECT_EQ(reader.Progress(), 0);
  ASSERT_TRUE(reader.GetLineFromFile(line));
  EXPECT_EQ(line, "a\n");
}

TEST(RetrieveFile, ChunkSizeBelowOneIsRefused) {
  clsRetrieveFile reader;
  EXPECT_THROW(reader.ChunkSize(0), AutomationError);
  EXPECT_EQ(reader.ChunkSize(), 4096);
}

TEST(RetrieveFile, LateBoundCallsWriteTheLineBack) {
  ScratchDir dir;
  WriteFile(dir / "f", "a\r\nb");
  clsRetrieveFile reader;
  reader.Let("Filename", dir / "f");
  EXPECT_TRUE(reader.Call("OpenFile").ToBool());
  std::vector<Variant> args{Variant("stale")};
  EXPECT_TRUE(reader.Invoke("GetLineFromFile", InvokeKind::kMethod, args).ToBool());
  EXPECT_EQ(args[0].ToText(), "a\r\n");
  EXPECT_EQ(reader.Get("LineNumber").ToInt32(), 1);
  EXPECT_EQ(test::ErrorNumber([&] { reader.Let("Progress", Variant(int16_t{5})); }), 438);
}

}  // namespace
}  // namespace vok
