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
#include "voktools/messages.h"

namespace vok {

class EntryTable {
 public:
  static constexpr int32_t kSlots = 32768;

  enum class Duplicates { kSameKey, kSameKeyAndValue };
  // message: the catalogue text added to the error list when the table
  // first drops an entry.
  EntryTable(Duplicates rule, MessageId message) : rule_(rule), message_(message) {}

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
  // Slot numbers by hash, open addressing. Each entry is the upper half of
  // the hash and the slot number + 1 (0: empty).
  class Index {
   public:
    // The first slot whose hash is `hash` and that `same` accepts, or -1.
    template <typename Same>
    int32_t Find(uint64_t hash, Same same) const;
    // Adds a slot; `rehash` gives the hash of any slot when the index grows.
    template <typename Rehash>
    void Add(uint64_t hash, int32_t slot, Rehash rehash);
    void Clear() {
      entries_.clear();
      members_.clear();
    }

   private:
    void Put(uint64_t hash, int32_t slot);
    std::vector<uint64_t> entries_;
    std::vector<int32_t> members_;  // the slots held, in the order added
  };

  static uint64_t HashOf(std::string_view key);
  static uint64_t HashOf(std::string_view key, std::string_view value);

  Duplicates rule_;
  MessageId message_;
  std::vector<std::pair<std::string, std::string>> slots_;
  Index first_of_key_;  // the first slot of each distinct key
  Index pairs_;         // the first slot of each distinct pair (same key and value rule)
  bool full_ = false;
};

}  // namespace vok
