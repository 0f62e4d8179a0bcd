// Time as the library reads it.
#pragma once

#include <cstdint>

namespace vok {

class Clock {
 public:
  virtual ~Clock() = default;
  // Nanoseconds on a clock that never goes back, from an arbitrary start.
  virtual uint64_t MonotonicTicks() = 0;
};

// The system's steady clock.
Clock& SystemClock();

}  // namespace vok
