// What protecting a server page has to give, worked out on the page alone
// with a scanner of its own: the HTML file, the script file, and the page
// that restoring those two files has to give back; and what restoring any
// HTML and script files, edited or not, has to give.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vok::test {

struct AspExpectation {
  std::string html;
  std::string script;
  // The page with a double quote added before and after every server block
  // that starts inside a tag, outside quotes, right after "=" (blanks
  // between allowed): restoration brings those back inside the quotes that
  // protection put around their placeholders.
  std::string restored;
  int32_t blocks = 0;
  // A "<%" met inside an open server block, or a "<script"/"<java" inside an
  // open script element (outside comments): the inner start gets its own
  // marker line in the middle of the outer block's text.
  bool nested = false;
  // Whether restoring html and script gives restored: not for nested
  // blocks, nor for pages that hold text restoration reads as a placeholder
  // ("asp2html" or "&lt;!--" in any letter case).
  bool round_trips = false;
};

AspExpectation ExpectProtection(std::string_view page);

// Restoration worked out line by line: every placeholder sends the search
// for its marker line from where the last block ended, then once more from
// the start of the script file; a block runs to the next marker line.
struct RestoreExpectation {
  std::string page;
  // Placeholders left in the page as they stood, one for each "<!--
  // ASP2HTML" with no "-->" after it on its line and one for each block
  // under two characters in the script file.
  int32_t left = 0;
  // False when a restored block brought placeholder text into the line
  // (inside it or across its edges); page is then incomplete.
  bool comparable = true;
};

RestoreExpectation ExpectRestoration(std::string_view html, std::string_view script);

}  // namespace vok::test
