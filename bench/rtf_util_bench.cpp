// clsRTFUtil over the RTF input: extraction of its object and picture groups
// into an object file, and insertion of them back. Every iteration works on a
// fresh copy; only the operation itself is timed. Besides the byte rate, each
// benchmark reports the peak resident size of the process during the
// operations.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

#include "bench_input.h"
#include "measure.h"
#include "voktools/rtf_util.h"

namespace vok::bench {
namespace {

constexpr double kMB = 1 << 20;

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
        return CopySynced(input.path, doc);
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
    if (!CopySynced(input.path, text) || util.ExtractObjects() != clsRTFUtil::kOK) {
      return state.SkipWithError("cannot extract the objects of the input");
    }
  }
  Run(
      state,
      [&](const std::string& doc, const std::string& obj) {
        return CopySynced(text, doc) && CopySynced(objects, obj);
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
