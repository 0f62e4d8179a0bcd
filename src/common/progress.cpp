#include "common/progress.h"

#include <algorithm>

namespace vok {

namespace {
// Wide enough for any file size times 200 (a compiler extension of GCC and
// Clang, marked so that pedantic builds accept it).
__extension__ using Wide = __int128;
}  // namespace

int16_t RoundedPercent(int64_t done, int64_t total) {
  // Whole numbers throughout: no double rounding of large files.
  const Wide scaled = static_cast<Wide>(done) * 100;
  int64_t q = static_cast<int64_t>(scaled / total);
  const Wide twice_rest = (scaled % total) * 2;
  if (twice_rest > total || (twice_rest == total && (q & 1) != 0)) ++q;
  return static_cast<int16_t>(std::clamp<int64_t>(q, 0, 100));
}

}  // namespace vok
