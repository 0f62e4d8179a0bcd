// A fresh folder under the temporary folder, removed with its content.
#pragma once

#include <string>
#include <vector>

namespace vok::test {

class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  // The folder, ending in '/'.
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + name; }
  // The names in the folder, hidden ones too, sorted.
  std::vector<std::string> Entries() const;

 private:
  std::string path_;
};

// Whole-file helpers that bypass the library.
void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);
bool Exists(const std::string& path);

}  // namespace vok::test
