// clsRTFUtil over the RTF input: extraction of its object and picture groups
// into an object file, and insertion of them back. Every iteration works on a
// fresh copy; only the operation itself is timed. Besides the byte rate, each
// benchmark reports the peak resident size of the process during the
// operations.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench_input.h"
#include "voktools/rtf_util.h"

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

// Copies from to to and writes the copy to disk, so that the timed operation
// starts with nothing left to write back.
bool Copy(const std::string& from, const std::string& to) {
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

// The peak resident size of the process while the operations ran.
class Memory {
 public:
  // Call right before the timed operation.
  void Before() { reset_ = ResetPeakRss(); }
  // Call right after it.
  void After() { peak_ = std::max(peak_, PeakRss()); }

  void Report(benchmark::State& state) const {
    // Without the reset the figure includes whatever the process did before.
    state.counters[reset_ ? "rss_peak_MB" : "process_peak_MB"] = static_cast<double>(peak_) / kMB;
  }

 private:
  bool reset_ = false;
  int64_t peak_ = 0;
};

// Runs op once per iteration on the files that prepare puts in place.
template <typename Prepare>
void Run(benchmark::State& state, Prepare prepare, int32_t (clsRTFUtil::*op)()) {
  const Input& input = RtfBenchInput();
  const std::string& folder = ScratchFolder();
  const std::string doc = folder + "rtf_doc.rtf";
  const std::string obj = folder + "rtf_doc.obj";
  Memory memory;
  for (auto _ : state) {
    if (!prepare(doc, obj)) return state.SkipWithError("cannot put the working copy in place");
    clsRTFUtil util;
    util.RTFFile(doc);
    util.ObjFile(obj);
    memory.Before();
    auto start = std::chrono::steady_clock::now();
    int32_t result = (util.*op)();
    auto stop = std::chrono::steady_clock::now();
    memory.After();
    if (result != clsRTFUtil::kOK) return state.SkipWithError("the operation failed");
    if (util.LastMoveResult() != 0) return state.SkipWithError("the final move failed");
    state.SetIterationTime(std::chrono::duration<double>(stop - start).count());
  }
  state.SetBytesProcessed(state.iterations() * input.size);
  state.counters["file_MB"] = static_cast<double>(input.size) / kMB;
  memory.Report(state);
}

void BM_Extract(benchmark::State& state) {
  const Input& input = RtfBenchInput();
  if (input.path.empty()) return state.SkipWithError(input.error.c_str());
  if (ScratchFolder().empty()) return state.SkipWithError("cannot make a scratch folder");
  Run(
      state,
      [&](const std::string& doc, const std::string& obj) {
        std::remove(obj.c_str());
        return Copy(input.path, doc);
      },
      &clsRTFUtil::ExtractObjects);
}

void BM_Insert(benchmark::State& state) {
  const Input& input = RtfBenchInput();
  if (input.path.empty()) return state.SkipWithError(input.error.c_str());
  const std::string& folder = ScratchFolder();
  if (folder.empty()) return state.SkipWithError("cannot make a scratch folder");
  // The input after extraction, made once.
  const std::string text = folder + "rtf_extracted.rtf";
  const std::string objects = folder + "rtf_extracted.obj";
  {
    clsRTFUtil util;
    util.RTFFile(text);
    util.ObjFile(objects);
    if (!Copy(input.path, text) || util.ExtractObjects() != clsRTFUtil::kOK) {
      return state.SkipWithError("cannot extract the objects of the input");
    }
  }
  Run(
      state,
      [&](const std::string& doc, const std::string& obj) {
        return Copy(text, doc) && Copy(objects, obj);
      },
      &clsRTFUtil::InsertObjects);
  if (!state.error_occurred() && !SameBytes(input.path, folder + "rtf_doc.rtf")) {
    state.SkipWithError("insertion did not give back the input");
  }
}

BENCHMARK(BM_Extract)->Name("RTF/extract")->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Insert)->Name("RTF/insert")->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vok::bench
