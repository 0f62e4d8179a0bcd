// clsASP2HTML over the generated server page: protection of the page into
// HTML and a script file, restoration of that HTML with its placeholders in
// order, and restoration of a copy whose placeholders run backwards (every
// lookup of a block then lands far from the previous one; the blocks put
// back differ, the work is the same). Only the call itself is timed.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

#include "bench_input.h"
#include "voktools/asp2html.h"

namespace vok::bench {
namespace {

constexpr double kMB = 1 << 20;

// The page protected once, and its copy with the placeholders reversed.
struct Protected {
  std::string htm, scr, reversed;
  int64_t placeholders = 0;
  std::string error;
};

const Protected& ProtectedPage() {
  static const Protected page = [] {
    Protected p;
    const Input& input = AspBenchInput();
    const std::string& folder = ScratchFolder();
    if (input.path.empty()) {
      p.error = input.error;
      return p;
    }
    if (folder.empty()) {
      p.error = "cannot make a scratch folder";
      return p;
    }
    clsASP2HTML page;
    page.ASPFile(input.path);
    page.HTMFile(folder + "asp_protected.htm");
    page.SCRFile(folder + "asp_protected.scr");
    if (page.ASP2HTML() != 0) {
      p.error = "cannot protect the page";
      return p;
    }
    p.htm = page.HTMFile();
    p.scr = page.SCRFile();
    p.reversed = folder + "asp_reversed.htm";
    if (!ReversePlaceholders(p.htm, p.reversed, &p.placeholders)) {
      p.error = "cannot reverse the placeholders";
    }
    return p;
  }();
  return page;
}

enum class Op { kProtect, kRestore, kRestoreReversed };

template <Op op>
void BM_Asp2Html(benchmark::State& state) {
  const Input& input = AspBenchInput();
  if (input.path.empty()) return state.SkipWithError(input.error.c_str());
  const std::string& folder = ScratchFolder();
  if (folder.empty()) return state.SkipWithError("cannot make a scratch folder");
  const Protected* prot = nullptr;
  if constexpr (op != Op::kProtect) {
    prot = &ProtectedPage();
    if (!prot->error.empty()) return state.SkipWithError(prot->error.c_str());
  }
  const std::string htm = folder + "asp_out.htm";
  const std::string scr = folder + "asp_out.scr";
  const std::string asp = folder + "asp_out.asp";
  for (auto _ : state) {
    // Every run writes fresh files, with nothing of the last one left to write back.
    for (const std::string* out : {&htm, &scr, &asp}) std::remove(out->c_str());
    ::sync();
    clsASP2HTML page;
    int32_t result;
    auto start = std::chrono::steady_clock::now();
    if constexpr (op == Op::kProtect) {
      page.ASPFile(input.path);
      page.HTMFile(htm);
      page.SCRFile(scr);
      result = page.ASP2HTML();
    } else {
      page.HTMFile(op == Op::kRestore ? prot->htm : prot->reversed);
      page.SCRFile(prot->scr);
      page.ASPFile(asp);
      result = page.HTML2ASP();
    }
    auto stop = std::chrono::steady_clock::now();
    if (result != 0) return state.SkipWithError("the call failed");
    state.SetIterationTime(std::chrono::duration<double>(stop - start).count());
  }
  state.SetBytesProcessed(state.iterations() * input.size);
  state.counters["page_MB"] = static_cast<double>(input.size) / kMB;
  if (prot != nullptr) state.counters["blocks"] = static_cast<double>(prot->placeholders);
}

BENCHMARK(BM_Asp2Html<Op::kProtect>)
    ->Name("ASP2HTML/protect")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Asp2Html<Op::kRestore>)
    ->Name("ASP2HTML/restore")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Asp2Html<Op::kRestoreReversed>)
    ->Name("ASP2HTML/restore_reversed")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vok::bench
