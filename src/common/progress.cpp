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

int64_t ProgressMeter::NextPercentAt(int16_t last, int64_t total) {
  if (last >= 100) return INT64_MAX;
  // A percentage above last begins about where done * 200 reaches
  // (2 * last + 1) * total; the even rule for an exact half decides the
  // byte there.
  const Wide bound = static_cast<Wide>(2 * last + 1) * total / 200;
  int64_t at = static_cast<int64_t>(std::max<Wide>(bound - 1, 0));
  while (RoundedPercent(at, total) <= last) ++at;
  return at;
}

}  // namespace vok
