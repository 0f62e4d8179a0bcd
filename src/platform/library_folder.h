// Where the library file was loaded from.
#pragma once

#include <string>

namespace vok {

// The folder holding the library file, without a trailing separator; empty
// when the loader cannot say.
std::string LibraryFolder();

}  // namespace vok
