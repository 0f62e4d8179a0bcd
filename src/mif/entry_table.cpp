#include "mif/entry_table.h"

#include <algorithm>
#include <functional>

#include "voktools/messages.h"

namespace vok {

uint64_t EntryTable::HashOf(std::string_view key) { return std::hash<std::string_view>{}(key); }

void EntryTable::Insert(uint64_t hash, int32_t slot) {
  const size_t mask = index_.size() - 1;
  size_t i = hash & mask;
  while (index_[i] != 0) i = (i + 1) & mask;
  index_[i] = (hash & 0xFFFFFFFF00000000ull) | static_cast<uint64_t>(slot + 1);
}

int16_t EntryTable::Add(std::string_view key, std::string_view value, bool check_duplicates,
                        Collection& errors) {
  const uint64_t hash = HashOf(key);
  if (check_duplicates && !index_.empty()) {
    const size_t mask = index_.size() - 1;
    for (size_t i = hash & mask; index_[i] != 0; i = (i + 1) & mask) {
      if ((index_[i] ^ hash) >> 32 != 0) continue;
      const auto& [k, v] = slots_[(index_[i] & 0xFFFFFFFFu) - 1];
      if (k == key && (rule_ == Duplicates::kSameKey || v == value)) return 0;
    }
  }
  if (count() >= kSlots) {
    if (full_) return 0;
    full_ = true;
    errors.Add(Variant(std::string(Message(message_))));
    return 1;
  }
  if (slots_.size() * 2 >= index_.size()) {
    // Grown at half full; the slots go back in order, so that equal keys
    // keep their order along their probe sequence.
    index_.assign(std::max<size_t>(64, index_.size() * 2), 0);
    for (size_t i = 0; i < slots_.size(); ++i) {
      Insert(HashOf(slots_[i].first), static_cast<int32_t>(i));
    }
  }
  Insert(hash, count());
  slots_.emplace_back(key, value);
  return 0;
}

const std::string* EntryTable::Find(std::string_view key) const {
  if (index_.empty()) return nullptr;
  const uint64_t hash = HashOf(key);
  const size_t mask = index_.size() - 1;
  for (size_t i = hash & mask; index_[i] != 0; i = (i + 1) & mask) {
    if ((index_[i] ^ hash) >> 32 != 0) continue;
    const auto& [k, v] = slots_[(index_[i] & 0xFFFFFFFFu) - 1];
    if (k == key) return &v;
  }
  return nullptr;
}

void EntryTable::Clear() {
  slots_.clear();
  index_.clear();
  full_ = false;
}

}  // namespace vok
