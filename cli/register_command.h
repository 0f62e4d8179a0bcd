// `voktools register`: loads the library and calls its registration entry
// point, which writes its classes into the registry store (or, with
// --unregister, removes them).
#pragma once

#include <iosfwd>
#include <string>

namespace vok::cli {

// The library opened when no --library is given, found through the
// command's run path (the build folder) or the system's library folders.
inline constexpr const char* kDefaultLibrary = "libvoktools.so.3";

// The entry point failed: the registry store could not be read or written.
inline constexpr int kRegisterFailed = 1;

struct RegisterOptions {
  bool unregister = false;
  std::string library;  // a file path; empty: the library that came with the command
  bool json = false;
  bool quiet = false;
};

// Prints what was done on out (the library file, the number of classes, the
// store file; one JSON object with --json; nothing with --quiet) and errors
// on err ("voktools register: ..."). Returns 0, kRegisterFailed, or
// kExitUnavailable when the library cannot be opened or lacks the entry
// point.
int RunRegister(const RegisterOptions& options, std::ostream& out, std::ostream& err);

}  // namespace vok::cli
