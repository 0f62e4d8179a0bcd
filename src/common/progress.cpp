#include "common/progress.h"

#include <algorithm>

namespace vok {

int16_t RoundedPercent(int64_t done, int64_t total) {
  // Whole numbers throughout: no double rounding of large files.
  const __int128 scaled = static_cast<__int128>(done) * 100;
  int64_t q = static_cast<int64_t>(scaled / total);
  const __int128 twice_rest = (scaled % total) * 2;
  if (twice_rest > total || (twice_rest == total && (q & 1) != 0)) ++q;
  return static_cast<int16_t>(std::clamp<int64_t>(q, 0, 100));
}

}  // namespace vok
