// Where the library file was loaded from.
#pragma once

#include <string>

namespace vok {

// The real path (symbolic links resolved) of the loaded file that holds the
// code at address; empty when the loader cannot say.
std::string LoadedFileOf(const void* address);

// The real path of the library file itself; empty when the loader cannot say.
std::string LibraryFile();

// The folder holding the library file, without a trailing separator; empty
// when the loader cannot say.
std::string LibraryFolder();

}  // namespace vok
