#include "common/marker_index.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "common/progress.h"

namespace vok {
namespace {

// The index against a walk through its entries in file order: of the
// entries holding the key, the first at or after the position, else the
// first of all; many keys repeat and entries hold several keys or none,
// enough of them to grow the hash table.
TEST(MarkerIndex, FindAgreesWithAWalkInFileOrder) {
  std::mt19937 rng(5);
  for (int round = 0; round < 40; ++round) {
    MarkerIndex index;
    std::vector<std::vector<std::string>> keys;  // per entry
    std::vector<int64_t> starts;
    int64_t at = 0;
    const int entries = 1 + static_cast<int>(rng() % 120);
    for (int e = 0; e < entries; ++e) {
      at += 1 + rng() % 50;
      starts.push_back(at);
      index.AddEntry(at, at + 10);
      keys.emplace_back();
      for (int k = static_cast<int>(rng() % 3); k > 0; --k) {
        keys.back().push_back("<m " + std::to_string(rng() % 25) + ">");
        index.AddKey(keys.back().back());
      }
    }
    for (int query = 0; query < 200; ++query) {
      const std::string key = "<m " + std::to_string(rng() % 30) + ">";
      const int64_t from = static_cast<int64_t>(rng() % static_cast<uint32_t>(at + 20));
      size_t after = MarkerIndex::npos, first = MarkerIndex::npos;
      for (size_t id = 0; id < keys.size(); ++id) {
        if (std::find(keys[id].begin(), keys[id].end(), key) == keys[id].end()) continue;
        if (first == MarkerIndex::npos) first = id;
        if (after == MarkerIndex::npos && starts[id] >= from) after = id;
      }
      const size_t expected = after != MarkerIndex::npos ? after : first;
      ASSERT_EQ(index.Find(key, from), expected) << key << " from " << from;
      if (expected != MarkerIndex::npos) {
        const size_t found = index.FindIf(from, [&](const MarkerIndex::Entry& e) {
          const std::vector<std::string>& held = keys[static_cast<size_t>(&e - &index.entry(0))];
          return std::find(held.begin(), held.end(), key) != held.end();
        });
        ASSERT_EQ(found, expected) << key << " from " << from;
        EXPECT_EQ(index.label(found), keys[found].front());
      }
    }
  }
}

// Halves go to the even neighbour; nothing goes above 100, also for sizes
// where doubles would round twice.
TEST(Progress, RoundsToTheNearestWithHalvesToEven) {
  struct Case {
    int64_t done, total;
    int16_t percent;
  } const kCases[] = {
      {1, 200, 0},   {3, 200, 2},       {5, 200, 2},      {7, 200, 4},
      {1, 3, 33},    {2, 3, 67},        {199, 200, 100},  {5, 4, 100},
      {0, 7, 0},     {(int64_t{1} << 62) / 200 * 3, (int64_t{1} << 62) / 200 * 200, 2},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(RoundedPercent(c.done, c.total), c.percent) << c.done << " of " << c.total;
  }
  ProgressMeter meter;
  std::vector<int16_t> seen;
  for (int64_t done : {0, 1, 2, 3, 200, 199, 400}) {
    if (int16_t p; meter.Grew(done, 400, &p)) seen.push_back(p);
  }
  EXPECT_EQ(seen, (std::vector<int16_t>{0, 1, 50, 100}));
  // Whatever the steps, the meter reports exactly the percentages above the
  // last one it reported: compared with rounding at every step.
  for (int64_t total : {int64_t{1}, int64_t{3}, int64_t{199}, int64_t{200}, int64_t{401},
                        int64_t{12345}, int64_t{1} << 40}) {
    ProgressMeter m;
    int16_t last = -1;
    std::mt19937_64 rng(static_cast<uint64_t>(total));
    for (int64_t done = 0; done <= total + 1;) {
      const int16_t expected = RoundedPercent(done, total);
      int16_t p = -1;
      ASSERT_EQ(m.Grew(done, total, &p), expected > last) << done << " of " << total;
      if (expected > last) EXPECT_EQ(p, last = expected);
      done += 1 + static_cast<int64_t>(rng() % static_cast<uint64_t>(total / 40 + 1));
    }
  }
}

}  // namespace
}  // namespace vok
