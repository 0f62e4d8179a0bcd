#include "platform/library_folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/scratch_dir.h"

namespace vok {
namespace {

using test::ScratchDir;
using test::WriteFile;

// The helper files are found from the folder of the code wherever the
// build or an installation put it: a build folder holding everything, an
// installed library, an installed command; the code's own folder first.
TEST(HelperFolders, FindTheHelperFilesFromWhereTheCodeLies) {
  const std::string libdir = VOK_TEST_INSTALL_LIBDIR;
  struct Case {
    const char* what;
    std::vector<std::string> files;  // "*" at the end: executable
    std::string code_folder;
    bool executable;
    std::string found;  // "" : not found
  };
  const std::vector<Case> cases = {
      {"build folder", {"build/quon.ppt"}, "build", false, "build/quon.ppt"},
      {"installed library", {libdir + "/voktools/quon.ppt"}, libdir, false,
       libdir + "/voktools/quon.ppt"},
      {"library moved with its folder", {"opt/app/voktools/quon.ppt"}, "opt/app", false,
       "opt/app/voktools/quon.ppt"},
      {"installed command", {libdir + "/voktools/quon.ppt"}, "bin", false,
       libdir + "/voktools/quon.ppt"},
      {"the code's folder first", {"bin/quon.ppt", libdir + "/voktools/quon.ppt"}, "bin", false,
       "bin/quon.ppt"},
      {"a program must run", {"bin/quon.ppt", libdir + "/voktools/quon.ppt*"}, "bin", true,
       libdir + "/voktools/quon.ppt"},
      {"nowhere", {"elsewhere/quon.ppt"}, "bin", false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    for (std::string file : c.files) {
      const bool executable = file.back() == '*';
      if (executable) file.pop_back();
      std::filesystem::create_directories(std::filesystem::path(dir / file).parent_path());
      WriteFile(dir / file, "x");
      ::chmod((dir / file).c_str(), executable ? 0755 : 0644);
    }
    std::filesystem::create_directories(dir / c.code_folder);
    const std::string code = dir / c.code_folder;
    const std::string found = FindHelperFile("quon.ppt", HelperFolders(code), c.executable);
    // Not found: where it was expected, in the code's folder.
    EXPECT_EQ(std::filesystem::path(found).lexically_normal(),
              std::filesystem::path(dir / (c.found.empty() ? c.code_folder + "/quon.ppt" : c.found))
                  .lexically_normal());
  }
}

}  // namespace
}  // namespace vok
