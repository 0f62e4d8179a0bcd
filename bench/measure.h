// What the benchmarks of whole-file operations share: working copies that
// start with nothing left to write back, a byte comparison of two files, and
// the peak resident size of the process during the timed calls.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

namespace vok::bench {

// Copies from to to and writes the copy to disk, so that the timed operation
// starts with nothing left to write back.
bool CopySynced(const std::string& from, const std::string& to);

// Whether the two files hold the same bytes.
bool SameBytes(const std::string& a, const std::string& b);

// The peak resident size of the process while the operations ran.
class Memory {
 public:
  // Call right before the timed operation.
  void Before();
  // Call right after it.
  void After();
  // Adds the figure as a counter, in MB: "rss_peak_MB", or
  // "process_peak_MB" when the peak could not be reset before the
  // operations and so covers the whole process.
  void Report(benchmark::State& state) const;

 private:
  bool reset_ = false;
  int64_t peak_ = 0;
};

}  // namespace vok::bench
