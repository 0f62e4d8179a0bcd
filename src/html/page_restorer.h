// The restoration of a server page: the text of its HTML file goes out as it
// stands, except that every placeholder gives way to its block from the
// script file. A line that holds placeholders is taken apart a piece at a
// time, so that a page on one line costs no more time per byte, nor more
// memory, than a page of many lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "common/buffered_output.h"
#include "common/text_window.h"
#include "html/script_file.h"
#include "voktools/asp2html.h"

namespace vok {

// What follows "<!-- ASP2HTML" in a marker, up to its "-->" (else its first
// word), without the spaces around it: the placeholder's number, as a rule.
std::string MarkerLabel(std::string_view marker);

class Restorer {
 public:
  using Mismatch = clsASP2HTML::Mismatch;
  struct Listener {
    std::function<void(std::string)> error;
    std::function<void(Mismatch)> mismatch;
    // The number of the line that starts at offset in the HTML file, asked
    // with offsets that never decrease.
    std::function<int64_t(int64_t)> line_number;
    // Called whenever more of the HTML file was read.
    std::function<void()> progress;
  };

  Restorer(TextWindow& html, ScriptFile& script, BufferedOutput& out, Listener listener)
      : w_(html), script_(script), out_(out), listener_(std::move(listener)) {}

  // Restores the rest of the HTML file. A failed read or write throws
  // IoFailure.
  void Run();

 private:
  // The line that starts at the window's start, to its end.
  void RestoreLine();
  // Moves the next piece of the line from the window into line_.
  void Pull();
  // Turns escaped placeholders from avail_ on back into plain ones, as far
  // as the text pulled decides them; moves avail_ to the first undecided.
  void RepairEscapes();
  // Sends out what no later step can look at or change before from_.
  void Emit();
  int64_t LineNumber() { return listener_.line_number(line_offset_); }

  TextWindow& w_;
  ScriptFile& script_;
  BufferedOutput& out_;
  Listener listener_;
  ScriptFile::Block block_;

  // The line being restored, from where it was last cut on: line_[0, done_)
  // went out; [done_, avail_) is page text with its escapes repaired and
  // blocks put back; the rest still waits for text to decide an escape.
  std::string line_;
  size_t done_ = 0;
  size_t avail_ = 0;
  size_t from_ = 0;            // where the next search for a placeholder starts
  size_t close_for_ = 0;       // the placeholder whose "-->" was looked for (npos: none)
  size_t close_from_ = 0;      // ... and is not before here
  bool more_ = false;          // the line goes on in the window
  bool searched_ = false;      // no placeholder from from_ to avail_
  int64_t line_offset_ = 0;    // where the line starts in the HTML file
};

}  // namespace vok
