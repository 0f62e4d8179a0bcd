#include "html/asp2html_reference.h"

#include <stdexcept>
#include <string_view>

#include "voktools/retrieve_file.h"

namespace vok::test {
namespace {

constexpr std::string_view kPlaceholder = "<!-- ASP2HTML";
constexpr std::string_view kAttribute = "ASP2HTML=\"";

std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

// A block that the end of the script file cut off keeps its last CR LF
// unless it holds an end of its kind: then that CR LF is the separator after
// a block that was closed on the page.
bool EndsWithSeparator(const std::string& block) {
  if (!block.ends_with("\r\n")) return false;
  if (block.starts_with("<%")) return block.find("%>") != std::string::npos;
  const std::string text = Upper(block);
  return text.find("</SCRIPT>") != std::string::npos || text.find("</JAVA>") != std::string::npos;
}

}  // namespace

std::string ReferenceRepair(std::string line) {
  for (size_t p; (p = Upper(line).find("&LT;!-- ASP2HTML")) != std::string::npos;) {
    line.replace(p, 16, kPlaceholder);
    size_t j = p + kPlaceholder.size();
    int spaces = 0;
    while (spaces < 2 && j < line.size()) {
      if (line[j] == ' ') ++spaces;
      ++j;
    }
    if (spaces == 2 && Upper(line.substr(j, 6)) == "--&GT;") line.replace(j, 6, "-->");
  }
  return line;
}

ReferencePage ReferenceRestore(const std::string& htm_file, const std::string& scr_file,
                               int32_t scr_chunk_size) {
  ReferencePage out;
  clsRetrieveFile html, script;
  html.Filename(htm_file);
  script.Filename(scr_file);
  script.ChunkSize(scr_chunk_size);
  if (!html.OpenFile() || !script.OpenFile()) throw std::runtime_error("cannot open the input");

  std::string line, scr_line;
  while (html.GetLineFromFile(line)) {
    line = ReferenceRepair(std::move(line));
    size_t from = 0;  // placeholders before this were left as they stood
    size_t pos = line.find(kPlaceholder);
    while (pos != std::string::npos) {
      if (pos >= kAttribute.size() &&
          line.compare(pos - kAttribute.size(), kAttribute.size(), kAttribute) == 0) {
        pos -= kAttribute.size();
      }
      const size_t e = line.find("-->", pos);
      if (e == std::string::npos) {
        for (size_t p = line.find(kPlaceholder, pos); p != std::string::npos;
             p = line.find(kPlaceholder, p + 1)) {
          ++out.left;
        }
        break;
      }
      std::string marker = line.substr(pos, e + 3 - pos);
      if (line[pos] != '<') marker += line.substr(e + 3, 1);
      const std::string removed = marker;
      line.erase(pos, marker.size());
      if (marker[0] != '<') marker = marker.substr(10, marker.size() - 11);

      bool first_pass = true, found = false;
      while (true) {
        if (!script.GetLineFromFile(scr_line)) {
          if (!first_pass) break;
          script.Position(1);
          first_pass = false;
        } else if (scr_line.starts_with(marker)) {
          found = true;
          break;
        }
      }

      std::string block;
      if (found) {
        int32_t resume;
        bool at_end = false;
        while (true) {
          resume = script.Position();
          if (!script.GetLineFromFile(scr_line)) {
            at_end = true;
            break;
          }
          if (scr_line.starts_with(kPlaceholder)) break;
          block += scr_line;
        }
        script.Position(resume);
        if (block.size() < 2) {
          line.insert(pos, removed);
          from = pos + removed.size();
          ++out.left;
          pos = line.find(kPlaceholder, from);
          continue;
        }
        if (!at_end || EndsWithSeparator(block)) block.erase(block.size() - 2);
        line.insert(pos, block);
      }
      const size_t next = line.find(kPlaceholder, from);
      if (next != std::string::npos && next < pos + block.size()) {
        out.comparable = false;
        return out;
      }
      pos = next;
    }
    out.page += line;
  }
  return out;
}

}  // namespace vok::test
