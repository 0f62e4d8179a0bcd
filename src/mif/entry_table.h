// One of the three tables that carry collected MIF texts from one operation
// to the next: up to 32768 key/value pairs in the order they were added,
// with hash indexes beside the slots so that the duplicate tests and the
// lookups give the first-match answers of a walk through the slots without
// walking.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "voktools/collection.h"

namespace vok {

class EntryTable {
 public:
  static constexpr int32_t kSlots = 32768;

  enum class Duplicates { kSameKey, kSameKeyAndValue };
  // message: the catalogue text added to the error list when the table
  // first drops an entry.
  EntryTable(Duplicates rule, int32_t message) : rule_(rule), message_(message) {}

  // Adds the pair unless check_duplicates finds it; 1 when this add filled
  // the table's overflow message into errors, else 0.
  int16_t Add(std::string key, std::string value, bool check_duplicates, Collection& errors);
  // The value of the first slot with this key, or nullptr.
  const std::string* Find(std::string_view key) const;

  int32_t count() const { return static_cast<int32_t>(slots_.size()); }
  bool full() const { return full_; }
  const std::pair<std::string, std::string>& slot(int32_t i) const { return slots_[i]; }
  void Clear();

 private:
  struct PairHash {
    size_t operator()(const std::pair<std::string, std::string>& p) const {
      size_t a = std::hash<std::string>{}(p.first), b = std::hash<std::string>{}(p.second);
      return a ^ (b + 0x9E3779B97F4A7C15ull + (a << 6) + (a >> 2));
    }
  };

  Duplicates rule_;
  int32_t message_;
  std::vector<std::pair<std::string, std::string>> slots_;
  std::unordered_map<std::string, int32_t> first_by_key_;
  std::unordered_set<std::pair<std::string, std::string>, PairHash> pairs_;
  bool full_ = false;
};

}  // namespace vok
