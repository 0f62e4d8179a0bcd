#include "platform/library_folder.h"

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

// The helper folder relative to the installed command's folder, and its full
// configured path; set by the build, empty where it does not.
#ifndef VOK_HELPER_DIR_FROM_BINDIR
#define VOK_HELPER_DIR_FROM_BINDIR ""
#endif
#ifndef VOK_INSTALLED_HELPER_DIR
#define VOK_INSTALLED_HELPER_DIR ""
#endif

namespace vok {

namespace fs = std::filesystem;

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

std::vector<std::string> HelperFolders(const std::string& code_folder) {
  std::vector<fs::path> candidates;
  if (!code_folder.empty()) {
    const fs::path code(code_folder);
    candidates.push_back(code);
    candidates.push_back(code / "voktools");
    if (std::string_view from_bin = VOK_HELPER_DIR_FROM_BINDIR; !from_bin.empty()) {
      candidates.push_back(code / from_bin);
    }
  }
  if (std::string_view installed = VOK_INSTALLED_HELPER_DIR; !installed.empty()) {
    candidates.emplace_back(installed);
  }
  std::vector<std::string> folders;
  for (const fs::path& candidate : candidates) {
    std::string folder = candidate.lexically_normal().string();
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    if (std::find(folders.begin(), folders.end(), folder) == folders.end()) {
      folders.push_back(std::move(folder));
    }
  }
  return folders;
}

std::vector<std::string> HelperFolders() { return HelperFolders(LibraryFolder()); }

std::string FindHelperFile(std::string_view name, const std::vector<std::string>& folders,
                           bool executable) {
  if (folders.empty()) return std::string(name);
  for (const std::string& folder : folders) {
    const std::string candidate = folder + "/" + std::string(name);
    if (::access(candidate.c_str(), executable ? X_OK : F_OK) == 0) return candidate;
  }
  return folders.front() + "/" + std::string(name);
}

}  // namespace vok
