#include "platform/library_folder.h"

#include <dlfcn.h>

#include <filesystem>

namespace vok {

std::string LoadedFileOf(const void* address) {
  Dl_info info{};
  if (::dladdr(address, &info) == 0 || info.dli_fname == nullptr) return "";
  std::error_code error;
  const std::filesystem::path file = std::filesystem::canonical(info.dli_fname, error);
  return error ? "" : file.string();
}

std::string LibraryFile() { return LoadedFileOf(reinterpret_cast<const void*>(&LibraryFile)); }

std::string LibraryFolder() {
  const std::string file = LibraryFile();
  return file.empty() ? "" : std::filesystem::path(file).parent_path().string();
}

}  // namespace vok
