// What protecting a server page has to give, worked out on the page alone
// with a scanner of its own: the HTML file, the script file, and the page
// that restoring those two files has to give back.
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

}  // namespace vok::test
