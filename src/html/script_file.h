// The script file of a server page: for each block taken out of the page,
// its placeholder on a line of its own ("<!-- ASP2HTML n -->" CR LF), then
// the block's text and CR LF. ScriptFile reads it back for restoration.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/marker_index.h"
#include "common/text_window.h"
#include "platform/file_system.h"

namespace vok {

constexpr std::string_view kScriptMarker = "<!-- ASP2HTML";
// Searches for kScriptMarker look for its "!" first.
constexpr size_t kScriptMarkerAnchor = 1;

// The script file as restoration reads it. Lookups in file order read it
// once, front to back, holding no more than a block; the first lookup that
// does not find its marker line where the last block ended builds an index
// of every line that begins with "<!-- ASP2HTML" in one pass, and block text
// is then read through a cache of aligned 1 MB pieces. A failed read throws
// IoFailure.
class ScriptFile {
 public:
  struct Block {
    std::string text;
    bool at_end = false;    // the collection stopped at the end of the file
    bool repeated = false;  // an earlier lookup took it already
  };

  explicit ScriptFile(std::unique_ptr<ReadableFile> file) : file_(std::move(file)) {}

  // The block after the first line that begins with marker, looked for from
  // where the last block ended, then from the start of the file.
  bool Lookup(std::string_view marker, Block* block);

  // The marker lines that no lookup took, in file order: each one's text up
  // to its first "-->" (or its line end).
  std::vector<std::string> Unused();

 private:
  // A marker line: where it starts and ends (after its line end), and its
  // text through the first "-->" when it has one within the key length.
  struct MarkerLine {
    int64_t start = 0;
    int64_t end = 0;
    std::string key;
    std::string text;  // without a key: the line, up to kMaxKey bytes
  };
  // Reads on to the next marker line; the bytes passed over go to skipped
  // when given. False at the end of the file.
  bool NextMarkerLine(MarkerLine* line, std::string* skipped);
  // Starts reading in file order, once.
  void StartReading();
  void BuildIndex();
  void ReadRange(int64_t from, int64_t to, std::string* out);

  std::unique_ptr<ReadableFile> file_;
  // Reading in file order, while every lookup found its line there: the
  // lines before next_ were taken, one lookup each.
  TextWindow window_;
  bool reading_ = false;
  char before_ = '\n';      // the byte before the window
  MarkerLine next_;         // the next marker line, when has_next_
  bool has_next_ = false;
  size_t taken_in_order_ = 0;
  bool indexed_ = false;
  // Each marker line, from its start to after its line end, known by its
  // text through the first "-->" when it has one within kMaxKey bytes.
  MarkerIndex index_;
  int64_t resume_ = 0;
  std::string cache_;
  int64_t cache_at_ = -1;
};

}  // namespace vok
