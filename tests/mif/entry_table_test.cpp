#include "mif/entry_table.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace vok {
namespace {

// The table as plain maps: the first value of each key, and the pairs.
struct Model {
  bool same_key_only = false;
  int32_t count = 0;
  std::map<std::string, std::string> first;
  std::set<std::pair<std::string, std::string>> pairs;

  void Add(const std::string& key, const std::string& value, bool check) {
    if (check && first.count(key) > 0 && (same_key_only || pairs.count({key, value}) > 0)) return;
    first.emplace(key, value);
    pairs.emplace(key, value);
    ++count;
  }
};

TEST(EntryTable, AnswersLikeAWalkThroughTheSlots) {
  for (auto rule : {EntryTable::Duplicates::kSameKey, EntryTable::Duplicates::kSameKeyAndValue}) {
    std::mt19937 rng(7);
    EntryTable table(rule, MessageId::kTooManyIndexes);
    Model model;
    model.same_key_only = rule == EntryTable::Duplicates::kSameKey;
    auto errors = Collection::Create();
    // A few keys with many values, added with and without the duplicate
    // test (as loading does), then many distinct keys.
    for (int i = 0; i < 30000; ++i) {
      const std::string key = "k" + std::to_string(rng() % (i < 8000 ? 5 : 100000));
      const std::string value = std::to_string(rng() % (i < 8000 ? 3000 : 3));
      const bool check = rng() % 4 != 0;
      ASSERT_EQ(table.Add(key, value, check, *errors), 0);
      model.Add(key, value, check);
      ASSERT_EQ(table.count(), model.count) << i;
    }
    for (int i = 0; i < 2000; ++i) {
      const std::string probe = "k" + std::to_string(i < 10 ? i : rng() % 100000);
      const std::string* got = table.Find(probe);
      auto want = model.first.find(probe);
      ASSERT_EQ(got == nullptr, want == model.first.end()) << probe;
      if (got != nullptr) {
        ASSERT_EQ(*got, want->second) << probe;
      }
    }
  }
}

}  // namespace
}  // namespace vok
