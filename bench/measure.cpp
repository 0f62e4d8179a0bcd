#include "measure.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <vector>

namespace vok::bench {

namespace {

constexpr double kMB = 1 << 20;

// The process's peak resident size in bytes, as getrusage reports it.
int64_t PeakRss() {
  rusage usage{};
  if (::getrusage(RUSAGE_SELF, &usage) != 0) return -1;
  return static_cast<int64_t>(usage.ru_maxrss) * 1024;
}

// Lowers the peak resident size to the current one (Linux), so that PeakRss
// afterwards covers only what follows. False when the kernel refuses: the
// peak is then the whole process's.
bool ResetPeakRss() {
  int fd = ::open("/proc/self/clear_refs", O_WRONLY);
  if (fd < 0) return false;
  bool ok = ::write(fd, "5", 1) == 1;
  ::close(fd);
  return ok;
}

}  // namespace

bool CopySynced(const std::string& from, const std::string& to) {
  std::error_code ec;
  std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing, ec);
  if (ec) return false;
  int fd = ::open(to.c_str(), O_RDONLY);
  if (fd < 0) return false;
  bool ok = ::fdatasync(fd) == 0;
  ::close(fd);
  return ok;
}

bool SameBytes(const std::string& a, const std::string& b) {
  std::ifstream x(a, std::ios::binary), y(b, std::ios::binary);
  constexpr size_t kBlock = 1 << 20;
  std::vector<char> p(kBlock), q(kBlock);
  while (x && y) {
    x.read(p.data(), kBlock);
    y.read(q.data(), kBlock);
    if (x.gcount() != y.gcount() || !std::equal(p.begin(), p.begin() + x.gcount(), q.begin())) {
      return false;
    }
  }
  return x.eof() && y.eof();
}

void Memory::Before() { reset_ = ResetPeakRss(); }

void Memory::After() { peak_ = std::max(peak_, PeakRss()); }

void Memory::Report(benchmark::State& state) const {
  state.counters[reset_ ? "rss_peak_MB" : "process_peak_MB"] = static_cast<double>(peak_) / kMB;
}

}  // namespace vok::bench
