// Texts kept in order for a report: the first few megabytes in memory, the
// rest in a private file, so that a run that lists millions of repairs
// holds no more than that in memory.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vok::cli {

class SpilledTexts {
 public:
  explicit SpilledTexts(size_t in_memory = size_t{4} << 20);
  ~SpilledTexts();
  SpilledTexts(const SpilledTexts&) = delete;
  SpilledTexts& operator=(const SpilledTexts&) = delete;

  void Add(std::string text);
  bool empty() const { return count_ == 0; }

  // Calls f with every text in order, once. When the private file could not
  // be written or read back, the texts from there on are missing and the
  // reason is in *why.
  void ForEach(const std::function<void(std::string_view)>& f, std::string* why);

 private:
  // The private file of the texts past the first ones.
  struct File;

  size_t in_memory_;
  size_t count_ = 0;
  size_t bytes_ = 0;
  std::vector<std::string> head_;
  std::unique_ptr<File> file_;
};

}  // namespace vok::cli
