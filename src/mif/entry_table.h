// One of the three tables that carry collected MIF texts from one operation
// to the next: up to 32768 key/value pairs in the order they were added,
// with hash indexes beside the slots so that the duplicate tests and the
// lookups give the first-match answers of a walk through the slots without
// walking.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
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
  int16_t Add(std::string_view key, std::string_view value, bool check_duplicates,
              Collection& errors);
  // The value of the first slot with this key, or nullptr.
  const std::string* Find(std::string_view key) const;

  int32_t count() const { return static_cast<int32_t>(slots_.size()); }
  bool full() const { return full_; }
  const std::pair<std::string, std::string>& slot(int32_t i) const { return slots_[i]; }
  void Clear();

 private:
  // Open addressing over the slots: each entry is the upper half of the
  // key's hash and the slot number + 1 (0: empty). Slots with equal keys
  // lie along one probe sequence in the order they were added.
  static uint64_t HashOf(std::string_view key);
  void Insert(uint64_t hash, int32_t slot);

  Duplicates rule_;
  int32_t message_;
  std::vector<std::pair<std::string, std::string>> slots_;
  std::vector<uint64_t> index_;
  bool full_ = false;
};

}  // namespace vok
