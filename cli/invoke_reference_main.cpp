// Writes the class reference of cli/INVOKE.md from the class table:
//   voktools_invoke_reference               prints it
//   voktools_invoke_reference --update FILE  replaces FILE's generated part
#include <iostream>
#include <string_view>

#include "common/replacement_file.h"
#include "invoke_describe.h"
#include "platform/env.h"

int main(int argc, char** argv) {
  if (argc == 1) {
    std::cout << vok::cli::ReferenceMarkdown();
    return std::cout.flush() ? 0 : 1;
  }
  if (argc != 3 || std::string_view(argv[1]) != "--update") {
    std::cerr << "usage: voktools_invoke_reference [--update FILE]\n";
    return 64;
  }
  vok::Env& env = vok::CurrentEnv();
  const std::string file = argv[2];
  std::string text;
  if (!vok::ReadWholeFile(*env.fs, file, &text).ok()) {
    std::cerr << file << ": cannot read\n";
    return 1;
  }
  std::optional<std::string> updated = vok::cli::WithCurrentReference(text);
  if (!updated) {
    std::cerr << file << ": no line starting with " << vok::cli::kReferenceMarker << "\n";
    return 1;
  }
  if (*updated == text) return 0;
  vok::ReplacementFile out;
  vok::Status s = out.Start(env, file, vok::InPlace());
  if (s.ok()) s = out.file().Append(*updated);
  if (s.ok()) s = out.Close();
  if (!s.ok() || out.Commit() != 0) {
    std::cerr << file << ": cannot write\n";
    return 1;
  }
  std::cerr << file << ": reference regenerated\n";
  return 0;
}
