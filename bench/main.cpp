// voktools_bench [benchmark options]
// voktools_bench --generate PATH SIZE   writes the benchmarks' kind of input
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string_view>

#include "bench_input.h"

int main(int argc, char** argv) {
  if (argc >= 2 && std::string_view(argv[1]) == "--generate") {
    int64_t size = argc == 4 ? vok::bench::ParseSize(argv[3]) : -1;
    if (size < 0) {
      std::fprintf(stderr, "usage: %s --generate PATH SIZE (bytes, or with K, M or G)\n", argv[0]);
      return 2;
    }
    return vok::bench::GenerateInput(argv[2], size) ? 0 : 1;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  vok::bench::RemoveScratchFolder();
  return 0;
}
