// A plain restoration to hold clsASP2HTML::HTML2ASP against: both files are
// read line by line through clsRetrieveFile, and every placeholder sends the
// script-file reader looking for its marker line from where it stands, then
// once more from the start of the file, going back after each block to
// where the line that ended it was read.
#pragma once

#include <cstdint>
#include <string>

namespace vok::test {

struct ReferencePage {
  std::string page;
  // Placeholders left in the page as they stood, one for each "<!--
  // ASP2HTML" with no "-->" after it on its line and one for each block
  // under two characters in the script file.
  int32_t left = 0;
  // False when a restored block brought placeholder text into the line
  // (inside it or across its edges); page is then incomplete.
  bool comparable = true;
};

ReferencePage ReferenceRestore(const std::string& htm_file, const std::string& scr_file,
                               int32_t scr_chunk_size = 4096);

// "&lt;!-- ASP2HTML" (any letter case) turned into "<!-- ASP2HTML", and the
// "--&gt;" after the word that follows into "-->".
std::string ReferenceRepair(std::string line);

}  // namespace vok::test
