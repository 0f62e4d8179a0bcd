#include "mif/entry_table.h"

#include "voktools/messages.h"

namespace vok {

int16_t EntryTable::Add(std::string key, std::string value, bool check_duplicates,
                        Collection& errors) {
  if (check_duplicates) {
    if (rule_ == Duplicates::kSameKey ? first_by_key_.count(key) > 0
                                      : pairs_.count({key, value}) > 0) {
      return 0;
    }
  }
  if (count() >= kSlots) {
    if (full_) return 0;
    full_ = true;
    errors.Add(Variant(std::string(Message(message_))));
    return 1;
  }
  first_by_key_.emplace(key, count());
  if (rule_ == Duplicates::kSameKeyAndValue) pairs_.emplace(key, value);
  slots_.emplace_back(std::move(key), std::move(value));
  return 0;
}

const std::string* EntryTable::Find(std::string_view key) const {
  auto it = first_by_key_.find(std::string(key));
  return it == first_by_key_.end() ? nullptr : &slots_[it->second].second;
}

void EntryTable::Clear() {
  slots_.clear();
  first_by_key_.clear();
  pairs_.clear();
  full_ = false;
}

}  // namespace vok
