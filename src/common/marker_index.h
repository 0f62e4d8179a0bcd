// The marker lines of a file, indexed once: each entry is a marker at an
// offset, known by one or more keys (its text, as the file's format cuts it
// out). A lookup takes the first entry with the key at or after a position,
// else the first one in the file, so that markers asked for in file order
// resume where the last one ended and those asked for out of order still
// find their entry. Entries also count the lookups that took them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vok {

class MarkerIndex {
 public:
  static constexpr size_t npos = static_cast<size_t>(-1);

  struct Entry {
    int64_t start;  // offset of the marker
    int64_t end;    // where its line (or whatever the format says) ends
  };

  // Adds an entry; entries come in file order. Its id is size() before.
  size_t AddEntry(int64_t start, int64_t end);
  // Gives the entry added last one more key (the first one is its label).
  void AddKey(std::string_view key);

  // The entry with key that starts at or after from, else the first with
  // key; npos when no entry has it.
  size_t Find(std::string_view key, int64_t from) const;
  // The first entry for which match is true, trying the entries that start
  // at or after from in order, then those before: for keys that were not
  // indexed.
  size_t FindIf(int64_t from, const std::function<bool(const Entry&)>& match) const;

  size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  const Entry& entry(size_t id) const { return entries_[id]; }
  // The first key of an entry; empty when it has none.
  std::string_view label(size_t id) const;

  // Counts a lookup that took the entry; true when an earlier one took it.
  bool Take(size_t id) { return ++uses_[id] > 1; }
  bool taken(size_t id) const { return uses_[id] != 0; }

 private:
  struct Key {
    uint32_t id;  // the entry
    uint32_t at;  // the text in keys_
    uint32_t size;
    size_t hash;
  };
  // A key + 1 (0: free) by hash, linear probing, with the hash's high half
  // to pass over other keys without comparing their text.
  struct Slot {
    uint32_t key = 0;
    uint32_t tag = 0;
  };

  void Insert(size_t key);
  void Grow();
  std::string_view Text(const Key& k) const { return std::string_view(keys_).substr(k.at, k.size); }

  std::vector<Entry> entries_;
  std::vector<uint32_t> uses_;
  std::vector<uint32_t> labels_;  // per entry: its first key + 1, 0 for none
  std::vector<Key> key_list_;
  std::string keys_;  // the text of all keys, one after another
  std::vector<Slot> table_;
};

}  // namespace vok
