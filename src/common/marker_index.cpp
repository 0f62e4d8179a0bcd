#include "common/marker_index.h"

#include <algorithm>

namespace vok {

size_t MarkerIndex::AddEntry(int64_t start, int64_t end) {
  entries_.push_back({start, end});
  uses_.push_back(0);
  labels_.push_back(0);
  return entries_.size() - 1;
}

void MarkerIndex::AddKey(std::string_view key) {
  const size_t id = entries_.size() - 1;
  key_list_.push_back({static_cast<uint32_t>(id), static_cast<uint32_t>(keys_.size()),
                       static_cast<uint32_t>(key.size()), std::hash<std::string_view>{}(key)});
  keys_.append(key);
  if (labels_[id] == 0) labels_[id] = static_cast<uint32_t>(key_list_.size());
  // At most half full.
  if (2 * key_list_.size() > table_.size()) {
    Grow();
  } else {
    Insert(key_list_.size() - 1);
  }
}

void MarkerIndex::Insert(size_t key) {
  const size_t mask = table_.size() - 1;
  const size_t h = key_list_[key].hash;
  size_t i = h & mask;
  while (table_[i].key != 0) i = (i + 1) & mask;
  table_[i] = Slot{static_cast<uint32_t>(key + 1), static_cast<uint32_t>(h >> 32)};
}

void MarkerIndex::Grow() {
  size_t size = std::max<size_t>(16, table_.size());
  while (size < 2 * key_list_.size()) size *= 2;
  table_.assign(size, Slot{});
  for (size_t k = 0; k < key_list_.size(); ++k) Insert(k);
}

size_t MarkerIndex::Find(std::string_view key, int64_t from) const {
  if (table_.empty()) return npos;
  const size_t h = std::hash<std::string_view>{}(key);
  const size_t mask = table_.size() - 1;
  const auto tag = static_cast<uint32_t>(h >> 32);
  size_t after = npos, first = npos;
  for (size_t i = h & mask; table_[i].key != 0; i = (i + 1) & mask) {
    if (table_[i].tag != tag) continue;
    const Key& k = key_list_[table_[i].key - 1];
    if (k.hash != h || Text(k) != key) continue;
    const size_t id = k.id;
    if (first == npos || id < first) first = id;
    if (entries_[id].start >= from && (after == npos || id < after)) after = id;
  }
  return after != npos ? after : first;
}

size_t MarkerIndex::FindIf(int64_t from, const std::function<bool(const Entry&)>& match) const {
  auto it = std::lower_bound(entries_.begin(), entries_.end(), from,
                             [](const Entry& e, int64_t at) { return e.start < at; });
  const size_t begin = static_cast<size_t>(it - entries_.begin());
  for (size_t k = 0; k < entries_.size(); ++k) {
    const size_t id = (begin + k) % entries_.size();
    if (match(entries_[id])) return id;
  }
  return npos;
}

std::string_view MarkerIndex::label(size_t id) const {
  return labels_[id] == 0 ? std::string_view() : Text(key_list_[labels_[id] - 1]);
}

}  // namespace vok
