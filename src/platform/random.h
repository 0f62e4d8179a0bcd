// Random numbers as the library draws them: one source, seeded once, that
// any thread may draw from.
#pragma once

#include <cstdint>

namespace vok {

class Random {
 public:
  virtual ~Random() = default;
  // 32 uniformly distributed bits.
  virtual uint32_t Next() = 0;
};

// The process's source, seeded from the system's entropy and the clock.
Random& SystemRandom();

}  // namespace vok
