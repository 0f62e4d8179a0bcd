// Writes the class reference of cli/INVOKE.md from the class table:
//   voktools_invoke_reference               prints it
//   voktools_invoke_reference --update FILE  replaces FILE's generated part
#include <fstream>
#include <iostream>
#include <sstream>
#include <string_view>

#include "invoke_describe.h"

int main(int argc, char** argv) {
  if (argc == 1) {
    std::cout << vok::cli::ReferenceMarkdown();
    return std::cout.flush() ? 0 : 1;
  }
  if (argc != 3 || std::string_view(argv[1]) != "--update") {
    std::cerr << "usage: voktools_invoke_reference [--update FILE]\n";
    return 64;
  }
  std::ostringstream text;
  {
    std::ifstream in(argv[2], std::ios::binary);
    if (!(text << in.rdbuf())) {
      std::cerr << argv[2] << ": cannot read\n";
      return 1;
    }
  }
  std::optional<std::string> updated = vok::cli::WithCurrentReference(text.str());
  if (!updated) {
    std::cerr << argv[2] << ": no line starting with " << vok::cli::kReferenceMarker << "\n";
    return 1;
  }
  if (*updated == text.str()) return 0;
  std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
  if (!(out << *updated) || !out.flush()) {
    std::cerr << argv[2] << ": cannot write\n";
    return 1;
  }
  std::cerr << argv[2] << ": reference regenerated\n";
  return 0;
}
