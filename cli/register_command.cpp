#include "register_command.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <ostream>
#include <string>

#include "json_text.h"
#include "platform/library_folder.h"
#include "platform/sqlite_registry.h"
#include "report.h"
#include "voktools/class_table.h"
#include "voktools/voktools_c.h"

namespace vok::cli {

namespace {

using EntryPoint = vok_status (*)();

std::string StatusHex(vok_status status) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(status));
  return hex;
}

std::string Reason(vok_status status) {
  switch (status) {
    case VOK_SELFREG_E_CLASS:
      return "the classes' entries could not be written";
    case VOK_SELFREG_E_TYPELIB:
      return "the type library's entries could not be written";
    case VOK_E_OUTOFMEMORY:
      return "out of memory";
    default:
      return "the library could not tell its own file or open the store";
  }
}

// The library that came with this command (whose code is linked into it):
// beside it in a build folder, or in the library folder of its
// installation; else the one the loader finds by its soname. The command's
// own run path is not enough: under AddressSanitizer the loader searches
// from the sanitizer's runtime instead.
std::string DefaultLibrary() {
  const std::string folder = LibraryFolder();
  if (!folder.empty()) {
    for (const std::string& dir : {folder, folder + "/" VOK_BIN_TO_LIB}) {
      const std::string candidate = dir + "/" + kDefaultLibrary;
      if (::access(candidate.c_str(), F_OK) == 0) return candidate;
    }
  }
  return kDefaultLibrary;
}

// The library, closed when the run ends.
class OpenLibrary {
 public:
  explicit OpenLibrary(const std::string& name)
      : handle_(::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL)) {}
  ~OpenLibrary() {
    if (handle_ != nullptr) ::dlclose(handle_);
  }
  OpenLibrary(const OpenLibrary&) = delete;
  OpenLibrary& operator=(const OpenLibrary&) = delete;
  void* handle() const { return handle_; }

 private:
  void* handle_;
};

}  // namespace

int RunRegister(const RegisterOptions& options, std::ostream& out, std::ostream& err) {
  // A path without a slash would be looked up in the library folders.
  std::string name = options.library.empty() ? DefaultLibrary() : options.library;
  if (!options.library.empty() && name.find('/') == std::string::npos) name = "./" + name;
  const char* entry_name = options.unregister ? "DllUnregisterServer" : "DllRegisterServer";
  const char* doing = options.unregister ? "unregister" : "register";
  const std::string store = SqliteRegistry::DefaultFile();
  const size_t classes = ClassTable().size();

  // The outcome: a line on out (JSON: always; text: on success unless
  // quiet), the error on err.
  auto report = [&](int exit_status, const std::string& file, const std::string& status,
                    const std::string& error) {
    if (!error.empty()) err << "voktools register: " << error << '\n';
    if (options.json) {
      Json line = {{"action", doing},
                   {"library", TextToJson(file)},
                   {"classes", classes},
                   {"store", TextToJson(store)},
                   {"status", status}};
      if (!error.empty()) line["error"] = TextToJson(error);
      out << DumpLine(line) << '\n';
    } else if (exit_status == 0 && !options.quiet) {
      if (options.unregister) {
        out << "unregistered " << file << ": no entry of its " << classes
            << " classes is left in " << store << '\n';
      } else {
        out << "registered " << file << ": " << classes << " classes written to " << store << '\n';
      }
    }
    return exit_status;
  };

  // Opening a FIFO or a device would block or read what is not a library.
  struct stat st;
  if (!options.library.empty() && ::stat(name.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    return report(kExitUnavailable, name, "",
                  "cannot open the library " + name + ": not a regular file");
  }
  ::dlerror();
  OpenLibrary library(name);
  if (library.handle() == nullptr) {
    const char* why = ::dlerror();
    return report(
        kExitUnavailable, name, "",
        "cannot open the library " + name + ": " + (why != nullptr ? why : "unknown reason"));
  }
  void* symbol = ::dlsym(library.handle(), entry_name);
  if (symbol == nullptr) {
    return report(kExitUnavailable, name, "", name + " has no entry point " + entry_name);
  }
  const std::string file = LoadedFileOf(symbol);
  const vok_status status = reinterpret_cast<EntryPoint>(symbol)();
  if (VOK_SUCCEEDED(status)) return report(0, file, StatusHex(status), "");
  return report(kRegisterFailed, file, StatusHex(status),
                std::string("cannot ") + doing + " " + file + " in the registry store " + store +
                    ": " + Reason(status) + " (" + StatusHex(status) + ")");
}

}  // namespace vok::cli
