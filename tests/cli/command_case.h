// A table case for the converter commands: files in a scratch folder, one
// or more runs of the command, and what the last run printed and left.
// "$DIR/" in arguments and texts stands for the scratch folder.
#pragma once

#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "support/scratch_dir.h"

namespace vok::test {

// Name in the scratch folder: bytes; a name ending in '/' is a folder.
using Files = std::map<std::string, std::string>;
using Expected = std::map<std::string, std::optional<std::string>>;  // nullopt: absent

struct CommandCase {
  std::string name;
  Files before;
  std::vector<std::string> runs;  // in order, split at spaces; the last one is checked
  int status;
  std::string out;
  Expected after;
  std::string err = {};  // a text standard error holds; empty: not checked
};

inline void PrintTo(const CommandCase& c, std::ostream* os) { *os << c.name; }

std::string InDir(std::string s, const ScratchDir& dir);

// Runs the case and checks it with gtest expectations.
void CheckCommandCase(const CommandCase& c);

}  // namespace vok::test
