#include "mif/entry_table.h"

#include <algorithm>
#include <functional>

#include "voktools/messages.h"

namespace vok {

uint64_t EntryTable::HashOf(std::string_view key) { return std::hash<std::string_view>{}(key); }

uint64_t EntryTable::HashOf(std::string_view key, std::string_view value) {
  const uint64_t h = HashOf(key) * 0x9E3779B97F4A7C15ull;
  return (h ^ (h >> 29)) + HashOf(value);
}

template <typename Same>
int32_t EntryTable::Index::Find(uint64_t hash, Same same) const {
  if (entries_.empty()) return -1;
  const size_t mask = entries_.size() - 1;
  for (size_t i = hash & mask; entries_[i] != 0; i = (i + 1) & mask) {
    if ((entries_[i] ^ hash) >> 32 != 0) continue;
    const auto slot = static_cast<int32_t>((entries_[i] & 0xFFFFFFFFu) - 1);
    if (same(slot)) return slot;
  }
  return -1;
}

void EntryTable::Index::Put(uint64_t hash, int32_t slot) {
  const size_t mask = entries_.size() - 1;
  size_t i = hash & mask;
  while (entries_[i] != 0) i = (i + 1) & mask;
  entries_[i] = (hash & 0xFFFFFFFF00000000ull) | static_cast<uint64_t>(slot + 1);
}

template <typename Rehash>
void EntryTable::Index::Add(uint64_t hash, int32_t slot, Rehash rehash) {
  if (members_.size() * 2 >= entries_.size()) {
    // Grown at half full. The slots go back in the order they came, so that
    // equal keys keep their order along their probe sequence.
    entries_.assign(std::max<size_t>(64, entries_.size() * 2), 0);
    for (int32_t s : members_) Put(rehash(s), s);
  }
  members_.push_back(slot);
  Put(hash, slot);
}

int16_t EntryTable::Add(std::string_view key, std::string_view value, bool check_duplicates,
                        Collection& errors) {
  const uint64_t hash = HashOf(key);
  const int32_t first = first_of_key_.Find(hash, [&](int32_t s) { return slots_[s].first == key; });
  // Each index holds one slot per distinct key (pair): the first one, which
  // is all that the lookups and the duplicate tests need.
  const bool by_pair = rule_ == Duplicates::kSameKeyAndValue;
  const uint64_t pair_hash = by_pair ? HashOf(key, value) : 0;
  const bool known_pair = by_pair && first >= 0 && pairs_.Find(pair_hash, [&](int32_t s) {
    return slots_[s].first == key && slots_[s].second == value;
  }) >= 0;
  if (check_duplicates && first >= 0 && (!by_pair || known_pair)) return 0;
  if (count() >= kSlots) {
    if (full_) return 0;
    full_ = true;
    errors.Add(Variant(std::string(Message(message_))));
    return 1;
  }
  const int32_t slot = count();
  slots_.emplace_back(key, value);
  if (first < 0) {
    first_of_key_.Add(hash, slot, [&](int32_t s) { return HashOf(slots_[s].first); });
  }
  if (by_pair && !known_pair) {
    pairs_.Add(pair_hash, slot,
               [&](int32_t s) { return HashOf(slots_[s].first, slots_[s].second); });
  }
  return 0;
}

const std::string* EntryTable::Find(std::string_view key) const {
  const int32_t slot =
      first_of_key_.Find(HashOf(key), [&](int32_t s) { return slots_[s].first == key; });
  return slot < 0 ? nullptr : &slots_[static_cast<size_t>(slot)].second;
}

void EntryTable::Clear() {
  slots_.clear();
  first_of_key_.Clear();
  pairs_.Clear();
  full_ = false;
}

}  // namespace vok
