#include "cli/command_case.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "cli/child_process.h"

namespace vok::test {

std::string InDir(std::string s, const ScratchDir& dir) {
  for (size_t p; (p = s.find("$DIR/")) != std::string::npos;) s.replace(p, 5, dir.path());
  return s;
}

void CheckCommandCase(const CommandCase& c) {
  ScratchDir dir;
  for (const auto& [name, bytes] : c.before) {
    if (name.ends_with('/')) {
      std::filesystem::create_directory(dir / name);
    } else {
      WriteFile(dir / name, bytes);
    }
  }
  RunResult r{};
  for (const std::string& run : c.runs) {
    std::vector<std::string> args;
    std::istringstream words(run);
    for (std::string w; words >> w;) args.push_back(InDir(w, dir));
    r = RunCli(args);
  }
  EXPECT_EQ(r.status, c.status) << r.err;
  EXPECT_EQ(r.out, InDir(c.out, dir));
  if (!c.err.empty()) {
    EXPECT_NE(r.err.find(InDir(c.err, dir)), std::string::npos) << r.err;
  }
  for (const auto& [name, bytes] : c.after) {
    if (bytes) {
      EXPECT_EQ(ReadFile(dir / name), *bytes) << name;
    } else {
      EXPECT_FALSE(Exists(dir / name)) << name;
    }
  }
}

}  // namespace vok::test
