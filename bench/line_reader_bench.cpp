// clsRetrieveFile over the whole input, line by line, with and without a copy
// of each line.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "bench_input.h"
#include "voktools/retrieve_file.h"

namespace vok::bench {
namespace {

enum class Method { kGetLineFromFile, kNextLine };

// Reads the input once; returns the bytes of all lines, or -1 when the file
// cannot be opened.
template <Method method>
int64_t ReadAll(const std::string& path, int32_t chunk_size) {
  clsRetrieveFile reader;
  reader.Filename(path);
  reader.ChunkSize(chunk_size);
  if (!reader.OpenFile()) return -1;
  int64_t bytes = 0;
  if constexpr (method == Method::kGetLineFromFile) {
    std::string line;
    while (reader.GetLineFromFile(line)) {
      bytes += static_cast<int64_t>(line.size());
      benchmark::DoNotOptimize(line.data());
    }
  } else {
    std::string_view line;
    while (reader.NextLine(&line)) {
      bytes += static_cast<int64_t>(line.size());
      benchmark::DoNotOptimize(line.data());
    }
  }
  return bytes;
}

template <Method method>
void BM_LineReader(benchmark::State& state) {
  const Input& input = BenchInput();
  if (input.path.empty()) return state.SkipWithError(input.error.c_str());
  const auto chunk_size = static_cast<int32_t>(state.range(0));
  int64_t total = 0;
  for (auto _ : state) {
    int64_t bytes = ReadAll<method>(input.path, chunk_size);
    // Lines that do not add up to the file would make the figure meaningless.
    if (bytes != input.size) return state.SkipWithError("the lines do not add up to the file");
    total += bytes;
  }
  state.SetBytesProcessed(total);
  state.counters["file_MB"] = static_cast<double>(input.size) / (1 << 20);
}

BENCHMARK(BM_LineReader<Method::kGetLineFromFile>)
    ->Name("LineReader/GetLineFromFile")
    ->ArgName("chunk")
    ->Arg(4096)
    ->Arg(65536)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_LineReader<Method::kNextLine>)
    ->Name("LineReader/NextLine")
    ->ArgName("chunk")
    ->Arg(4096)
    ->Arg(65536)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
}  // namespace vok::bench
