#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "support/errors.h"
#include "support/fault_file_system.h"
#include "support/scratch_dir.h"
#include "voktools/automation_error.h"
#include "voktools/retrieve_file.h"

namespace vok {
namespace {

using test::ScratchDir;
using test::WriteFile;

// A reader opened on path with the given chunk size.
std::unique_ptr<clsRetrieveFile> OpenReader(const std::string& path, int32_t chunk) {
  auto reader = std::make_unique<clsRetrieveFile>();
  reader->Filename(path);
  reader->ChunkSize(chunk);
  EXPECT_TRUE(reader->OpenFile());
  return reader;
}

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
  for (size_t offset : {0, 5, 9, 15, 21}) {  // the line starts
    reader->Position(static_cast<int32_t>(offset + 1));
    EXPECT_EQ(reader->Position(), static_cast<int32_t>(offset + 1));
    std::string rest;
    while (reader->GetLineFromFile(line)) rest += line;
    EXPECT_EQ(rest, text.substr(offset));
    EXPECT_EQ(reader->Position(), static_cast<int32_t>(text.size() + 1));
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
