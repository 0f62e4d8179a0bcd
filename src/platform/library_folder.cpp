#include "platform/library_folder.h"

#include <dlfcn.h>

#include <filesystem>

namespace vok {

std::string LibraryFolder() {
  Dl_info info{};
  if (::dladdr(reinterpret_cast<void*>(&LibraryFolder), &info) == 0 || info.dli_fname == nullptr) {
    return "";
  }
  std::error_code error;
  const std::filesystem::path library = std::filesystem::canonical(info.dli_fname, error);
  return error ? "" : library.parent_path().string();
}

}  // namespace vok
