// voktools_bench [benchmark options]
// voktools_bench --generate PATH SIZE       writes the benchmarks' file of lines
// voktools_bench --generate-rtf PATH SIZE   writes the benchmarks' RTF document
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string_view>

#include "bench_input.h"

int main(int argc, char** argv) {
  if (argc >= 2) {
    const std::string_view mode = argv[1];
    if (mode == "--generate" || mode == "--generate-rtf") {
      int64_t size = argc == 4 ? vok::bench::ParseSize(argv[3]) : -1;
      if (size < 0) {
        std::fprintf(stderr, "usage: %s %s PATH SIZE (bytes, or with K, M or G)\n", argv[0],
                     argv[1]);
        return 2;
      }
      auto* generate = mode == "--generate" ? &vok::bench::GenerateInput : &vok::bench::GenerateRtf;
      return generate(argv[2], size) ? 0 : 1;
    }
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  vok::bench::RemoveScratchFolder();
  return 0;
}
