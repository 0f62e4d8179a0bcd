// How far a run has read, as the percentage its Progress reports: the bytes
// read of the total, times 100, to the nearest whole number with an exact
// half going to the even neighbour, and never above 100. A run reports a
// percentage only when it is above the last one it reported.
#pragma once

#include <cstdint>

namespace vok {

// done of total as a percentage (total > 0).
int16_t RoundedPercent(int64_t done, int64_t total);

class ProgressMeter {
 public:
  // last: the percentage taken as reported already (-1: none, so that 0 is
  // reported too).
  explicit ProgressMeter(int16_t last = -1) : last_(last) {}

  // Whether done of total is a percentage above the last one reported; it
  // is then in *percent, and the last one reported. Nothing for total 0.
  bool Grew(int64_t done, int64_t total, int16_t* percent) {
    if (total <= 0 || (total == total_ && done < next_)) return false;
    const int16_t p = RoundedPercent(done, total);
    const bool grew = p > last_;
    if (grew) last_ = *percent = p;
    total_ = total;
    next_ = NextPercentAt(last_, total);
    return grew;
  }

 private:
  // The least done of total whose percentage is above last.
  static int64_t NextPercentAt(int16_t last, int64_t total);

  int16_t last_;
  int64_t total_ = 0;
  int64_t next_ = 0;  // below this, done of total_ gives no new percentage
};

}  // namespace vok
