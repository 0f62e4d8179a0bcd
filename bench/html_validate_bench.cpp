// clsHTMLValidate over the generated HTML page. Every iteration validates a
// fresh copy of the page (validation rewrites it in place); only the call is
// timed. Besides the byte rate, the benchmark reports the peak resident size
// of the process during the calls and the number of repairs, and checks
// afterwards that validating the validated page changes nothing.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <string>

#include "bench_input.h"
#include "measure.h"
#include "voktools/collection.h"
#include "voktools/html_validate.h"

namespace vok::bench {
namespace {

constexpr double kMB = 1 << 20;

// Validates page in place: the result, and the number of repairs (the
// entries between the title and the summary).
int32_t Validate(const std::string& page, int32_t* repairs) {
  clsHTMLValidate v;
  v.Filename(page);
  const int32_t result = v.HTMLValidate();
  *repairs = v.ErrorList()->Count() - 2;
  return result;
}

void BM_Validate(benchmark::State& state) {
  const Input& input = HtmlBenchInput();
  if (input.path.empty()) return state.SkipWithError(input.error.c_str());
  const std::string& folder = ScratchFolder();
  if (folder.empty()) return state.SkipWithError("cannot make a scratch folder");
  const std::string page = folder + "html_page.htm";
  Memory memory;
  int32_t repairs = 0;
  for (auto _ : state) {
    if (!CopySynced(input.path, page)) return state.SkipWithError("cannot copy the page");
    clsHTMLValidate v;
    v.Filename(page);
    memory.Before();
    const auto start = std::chrono::steady_clock::now();
    const int32_t result = v.HTMLValidate();
    const auto stop = std::chrono::steady_clock::now();
    memory.After();
    if (result != 0) return state.SkipWithError("the validation failed");
    repairs = v.ErrorList()->Count() - 2;
    state.SetIterationTime(std::chrono::duration<double>(stop - start).count());
  }
  state.SetBytesProcessed(state.iterations() * input.size);
  state.counters["file_MB"] = static_cast<double>(input.size) / kMB;
  state.counters["repairs"] = repairs;
  memory.Report(state);

  const std::string again = folder + "html_again.htm";
  int32_t second_repairs = 0;
  if (!CopySynced(page, again) || Validate(again, &second_repairs) != 0) {
    return state.SkipWithError("cannot validate the validated page");
  }
  if (second_repairs != 0 || !SameBytes(page, again)) {
    state.SkipWithError("validating the validated page changed it");
  }
}

BENCHMARK(BM_Validate)->Name("HTML/validate")->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vok::bench
