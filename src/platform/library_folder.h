// Where the library file was loaded from, and where its helper files lie.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vok {

// The real path (symbolic links resolved) of the loaded file that holds the
// code at address; empty when the loader cannot say.
std::string LoadedFileOf(const void* address);

// The real path of the library file itself; empty when the loader cannot say.
std::string LibraryFile();

// The folder holding the library file, without a trailing separator; empty
// when the loader cannot say.
std::string LibraryFolder();

// The folders that may hold the library's helper files (the office worker,
// the add-in documents), most specific first, without duplicates: the
// folder of the code itself (a build folder holds everything there), its
// "voktools" subfolder (the installed library's), the helper folder seen from
// a command installed in the binary folder, and the folder the build was
// configured to install them into.
std::vector<std::string> HelperFolders(const std::string& code_folder);
std::vector<std::string> HelperFolders();

// The first of folders holding name (a program this process may run, when
// executable); the name in the first folder when none does, so that an
// error can say where it was expected; the bare name when there are no
// folders.
std::string FindHelperFile(std::string_view name, const std::vector<std::string>& folders,
                           bool executable = false);

}  // namespace vok
