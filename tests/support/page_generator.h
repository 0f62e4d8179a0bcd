// Generated server pages: HTML text, tags with quoted and unquoted
// attributes and comments, interleaved with server blocks ("<% %>",
// "<%= %>", one-line and multi-line) outside tags, inside quoted attribute
// values and inside tags with and without "=" before them, and with script
// elements ("<script ...>", "<SCRIPT language=...>", "<java>"). Lines end in
// CR, LF, CR LF or LF CR at random. The same options always give the same
// bytes.
//
// The pages never start a block inside an open block, never hold the text
// "asp2html" or "&lt;!--" in any letter case, and end inside a block only
// when asked to.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace vok::test {

struct PageOptions {
  uint64_t seed = 1;
  int64_t size = 16 * 1024;  // the page stops at the first line end past this
  int64_t blocks = 40;       // blocks wanted, spread over the page
  bool open_block_at_end = false;
};

// Hands the page to sink in consecutive pieces of about a megabyte; returns
// the number of blocks the page holds (those inside comments not counted).
int64_t GeneratePage(const PageOptions& options,
                     const std::function<void(std::string_view piece)>& sink);

std::string GeneratePage(const PageOptions& options, int64_t* blocks = nullptr);

}  // namespace vok::test
